#pragma once
// GNU gettext at start-up and the lookups the program makes afterwards.
// Call InitTranslation once on the main thread before the first lookup;
// lookups may then run on any thread (gettext itself is thread-safe).

#include <string>
#include <vector>

namespace tarvik {

// Binds the domain "default" to localeDir, makes it current, and picks the
// language: LANG, else LC_ALL or LC_MESSAGES, cut before any "." or "@".
// Works where that locale is not installed: glibc ignores LANGUAGE under the
// "C" locale, so the program then runs under C.UTF-8 with LANGUAGE set.
void InitTranslation(const std::string& localeDir);

// The language InitTranslation chose ("de_DE"), or "" when none was given.
const std::string& TranslationLanguage();

// Adds a further domain, bound to the same directory, in which resource texts
// are looked up after "default" and the domains registered before it.
void RegisterResourceDomain(const std::string& domain);

// The plain lookup in the current domain; the text itself when untranslated.
std::string Gettext(const char* msgid);

// Tries "default", then each registered domain in order; the text itself
// when none translates it.
std::string TranslateResource(const char* msgid);

// True when some domain translates msgid (lets a Qt translator say "no translation").
bool HasResourceTranslation(const char* msgid);

}  // namespace tarvik
