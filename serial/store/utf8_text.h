#pragma once
// UTF-8 checks for the settings stores, whose files are UTF-8 while the
// program's texts are 8-bit Latin-1 (widening is tarvik::Latin1ToUtf8).
// Stateless; any thread.

#include <optional>
#include <string_view>

#include "base/text.h"

namespace cport {

// True when text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// The Latin-1 form of a UTF-8 text; nothing when it is not UTF-8 or holds a
// character beyond U+00FF.
std::optional<tarvik::Text> Utf8ToLatin1(std::string_view utf8);

}  // namespace cport
