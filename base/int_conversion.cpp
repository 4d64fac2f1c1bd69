#include "base/int_conversion.h"

#include "base/text.h"

namespace tarvik {

EConvertError::EConvertError(std::string_view text)
    : ETextError(std::string("'")
                     .append(Latin1ToUtf8(text))
                     .append("' is not a valid integer value")),
      text_(text) {}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }

    std::string_view rest = text.substr(pos);
    bool hex = false;
    if (rest.starts_with("0x") || rest.starts_with("0X")) {
        rest.remove_prefix(2);
        hex = true;
    } else if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
        rest.remove_prefix(1);
        hex = true;
    }
    if (rest.empty()) throw EConvertError(text);

    if (hex) {
        if (rest.size() > 8) throw EConvertError(text);
        std::uint32_t pattern = 0;
        for (char c : rest) {
            const int digit = HexValue(c);
            if (digit < 0) throw EConvertError(text);
            pattern = (pattern << 4) | static_cast<std::uint32_t>(digit);
        }
        // Unsigned arithmetic: negating 0x80000000 must wrap, not overflow.
        if (negative) pattern = 0u - pattern;
        return static_cast<std::int32_t>(pattern);
    }

    // Accumulate the magnitude in 64 bits so the limit check cannot overflow.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') throw EConvertError(text);
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) throw EConvertError(text);
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace tarvik
