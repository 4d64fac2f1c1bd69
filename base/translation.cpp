#include "base/translation.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <mutex>

namespace tarvik {

namespace {

constexpr const char* kDefaultDomain = "default";

struct TranslationState {
    std::mutex mutex;
    std::string localeDir;
    std::string language;
    std::vector<std::string> domains{kDefaultDomain};
};

TranslationState& State() {
    static TranslationState state;
    return state;
}

std::string CutLanguage(const char* value) {
    if (value == nullptr) return {};
    std::string language(value);
    const auto cut = language.find_first_of(".@");
    if (cut != std::string::npos) language.erase(cut);
    return language;
}

std::string WantedLanguage() {
    for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES"}) {
        std::string language = CutLanguage(std::getenv(name));
        if (!language.empty()) return language;
    }
    return {};
}

void Bind(const std::string& domain, const std::string& dir) {
    bindtextdomain(domain.c_str(), dir.c_str());
    bind_textdomain_codeset(domain.c_str(), "UTF-8");
}

// dgettext hands back the very pointer it was given when it has no translation.
const char* Lookup(const std::string& domain, const char* msgid) {
    const char* result = dgettext(domain.c_str(), msgid);
    return result == msgid ? nullptr : result;
}

}  // namespace

void InitTranslation(const std::string& localeDir) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    state.localeDir = localeDir;
    state.language = WantedLanguage();

    if (std::setlocale(LC_ALL, "") == nullptr) {
        // The user's locale is not installed. Under "C" glibc would ignore
        // LANGUAGE and never translate; C.UTF-8 keeps it honoured.
        std::setlocale(LC_ALL, "C.UTF-8");
    }
    // Numbers are formatted by the program itself; keep the C rules for them.
    std::setlocale(LC_NUMERIC, "C");
    if (!state.language.empty() && state.language != "C" && state.language != "POSIX") {
        setenv("LANGUAGE", state.language.c_str(), 1);
    }

    for (const auto& domain : state.domains) Bind(domain, localeDir);
    textdomain(kDefaultDomain);
}

const std::string& TranslationLanguage() { return State().language; }

void RegisterResourceDomain(const std::string& domain) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    for (const auto& known : state.domains) {
        if (known == domain) return;
    }
    state.domains.push_back(domain);
    if (!state.localeDir.empty()) Bind(domain, state.localeDir);
}

std::string Gettext(const char* msgid) { return gettext(msgid); }

std::string TranslateResource(const char* msgid) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    for (const auto& domain : state.domains) {
        if (const char* text = Lookup(domain, msgid)) return text;
    }
    return msgid;
}

bool HasResourceTranslation(const char* msgid) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    for (const auto& domain : state.domains) {
        if (Lookup(domain, msgid) != nullptr) return true;
    }
    return false;
}

}  // namespace tarvik
