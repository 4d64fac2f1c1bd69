// Translated errors. Each test starts the translation runtime for its own
// language; ctest runs every test in a process of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/translation.h"
#include "serial/error/com_error.h"

namespace cport {
namespace {

void StartUp(const char* lang, const std::string& localeDir) {
    setenv("LANG", lang, 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    tarvik::InitTranslation(localeDir);
    InitComPortMessages();
}

// This machine has no de_DE locale installed; the German texts must appear anyway.
TEST(ComErrorTranslation, GermanCatalog) {
    StartUp("de_DE.UTF-8", TARVIK_LOCALE_DIR);
    EXPECT_STREQ(EComPort(ecSetState, 87).what(),
                 "Funktion SetCommState fehlgeschlagen (Win-Fehlercode: 87)");
    EXPECT_STREQ(EComPort(ecOpen, 2).what(),
                 "COM-Port kann nicht ge\xC3\xB6"
                 "ffnet werden (Win-Fehlercode: 2)");
    EXPECT_STREQ(EComPort(ecConnectedChange).what(),
                 "Eigenschaft kann bei offener Verbindung nicht gesetzt werden");
    // The catalog is complete: every one of the 23 texts is translated.
    for (std::int32_t code = 1; code <= kComErrorCount; ++code) {
        EXPECT_NE(ErrorMessages(code), ComErrorText(code)) << "code " << code;
    }
}

TEST(ComErrorTranslation, NoCatalogForTheLanguage) {
    StartUp("sv_SE.UTF-8", TARVIK_LOCALE_DIR);
    EXPECT_STREQ(EComPort(ecSetState, 87).what(),
                 "SetCommState function failed (win error code: 87)");
    for (std::int32_t code = 1; code <= kComErrorCount; ++code) {
        EXPECT_EQ(ErrorMessages(code), ComErrorText(code));
    }
}

// A "%" in a translated text is shown as it stands; only the suffix's
// number is filled in.
TEST(ComErrorTranslation, PercentSignsAreNoDirectives) {
    StartUp("de_DE.UTF-8", TEST_CATALOG_DIR);
    EXPECT_STREQ(EComPort(ecOpen, 5).what(), "Port %s zu 100% belegt %n (Fehler %x: 5, %%)");
    EXPECT_STREQ(EComPort(ecConnectedChange).what(), "50% %d verbunden");
}

TEST(ComErrorTranslation, SuffixWithoutNumberFallsBackToEnglish) {
    StartUp("fr_FR.UTF-8", TEST_CATALOG_DIR);
    EXPECT_STREQ(EComPort(ecRegistry, 3).what(), "Erreur du registre (win error code: 3)");
}

}  // namespace
}  // namespace cport
