#include "app/line_options.h"

#include <cctype>

#include "base/int_conversion.h"

namespace tarvik {

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::optional<unsigned char> ParseEndByte(std::string_view text) {
    if (SameLetters(text, "CR"))
        return '\r';
    if (SameLetters(text, "LF"))
        return '\n';
    if (text.size() == 3 && text.front() == '"' && text.back() == '"')
        return static_cast<unsigned char>(text[1]);
    try {
        const std::int32_t value = StrToInt(text);
        if (value >= 0 && value <= 255)
            return static_cast<unsigned char>(value);
    } catch (const EConvertError&) {
    }
    return std::nullopt;
}

}  // namespace tarvik
