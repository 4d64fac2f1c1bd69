#pragma once
// The window edits Unicode; the codec and the line carry 8-bit texts. The one
// mapping between them is Latin-1 (U+0000..U+00FF are the bytes 0x00..0xFF).

#include <QString>
#include <stdexcept>
#include <string_view>

#include "base/text.h"

namespace tarvik {

// A window text holds a character that has no byte. Its message (UTF-8) names
// the character, its code point and its position.
class ENoByteForCharacter : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Window text to bytes. Throws ENoByteForCharacter for a character above U+00FF
// rather than replacing it: a silently changed byte would go out on the line.
Text ToText(const QString& text);

// Bytes to window text; every byte value has its character.
QString FromText(std::string_view text);

}  // namespace tarvik
