#include "timeline/message_rule.h"

#include <cctype>
#include <charconv>

#include "base/int_conversion.h"

namespace tarvik::timeline {

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

std::optional<MessageRuleChoice> ParseMessageRule(std::string_view text) {
    MessageRuleChoice choice;
    if (text == "arrival")
        return choice;
    if (text == "gap") {
        choice.kind = MessageRuleKind::GapAuto;
        return choice;
    }
    if (text.starts_with("gap:")) {
        const std::string_view number = text.substr(4);
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), choice.gapMs);
        if (error != std::errc() || end != number.data() + number.size() || choice.gapMs <= 0)
            return std::nullopt;
        choice.kind = MessageRuleKind::GapMs;
        return choice;
    }
    if (text.starts_with("end:")) {
        const auto byte = ParseEndByte(text.substr(4));
        if (!byte)
            return std::nullopt;
        choice.kind = MessageRuleKind::EndByte;
        choice.endByte = *byte;
        return choice;
    }
    return std::nullopt;
}

}  // namespace tarvik::timeline
