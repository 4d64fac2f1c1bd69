#pragma once
// The one integer notation of the program: command-line tokens, the timer
// interval and event characters all read numbers through StrToInt.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/text.h"

namespace tarvik {

// Raised when a text is not an integer in the notation below. Its message is
// "'<text>' is not a valid integer value" with the whole text (UTF-8, the text
// widened from Latin-1; NUL bytes kept in Message()). Handlers let it reach
// the default error handler.
class EConvertError : public ETextError {
public:
    explicit EConvertError(std::string_view text);
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// Converts the whole text to a signed 32-bit integer.
// Accepted: leading spaces; an optional "-" or "+"; then decimal digits within
// 32 bits, or "$", "x", "X", "0x" or "0X" and one to eight hex digits (the
// 32-bit pattern taken as it is, then negated for a leading "-"). Nothing may
// follow the digits. Throws EConvertError otherwise.
std::int32_t StrToInt(std::string_view text);

}  // namespace tarvik
