#pragma once
// The one-line-per-message switch as both faces take it ("--messages"):
// arrival, gap, gap:MS or end:BYTE. Plain C++; any thread.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvik::timeline {

enum class MessageRuleKind {
    PerArrival,  // one line per block read
    GapAuto,     // until the line is quiet for 3.5 character times
    GapMs,       // until the line is quiet for gapMs
    EndByte,     // up to and including endByte
};

struct MessageRuleChoice {
    MessageRuleKind kind = MessageRuleKind::PerArrival;
    std::int32_t gapMs = 10;       // GapMs (> 0)
    unsigned char endByte = '\r';  // EndByte
};

// "CR", "LF" (any case), one character in double quotes, or a number 0..255
// in the integer notation ("13", "0x0D", "$0D"); nothing for anything else.
std::optional<unsigned char> ParseEndByte(std::string_view text);

// "arrival", "gap", "gap:MS" (MS > 0) or "end:BYTE"; nothing for anything else.
std::optional<MessageRuleChoice> ParseMessageRule(std::string_view text);

}  // namespace tarvik::timeline
