#pragma once
// What a log line is, beside its text: a received line with the check's
// verdict, a sent block, an event, or anything else. The text alone stays
// what is saved and copied; the kind only changes how the line is drawn and
// which quick filters keep it. Plain values; any thread.

#include <cstdint>

namespace tarvik {

enum class TLineKind : std::uint8_t {
    Plain,     // as every line always was
    Ok,        // received, its check value right
    Bad,       // received, its check value wrong, malformed or missing
    TooShort,  // received, too short to hold its check value
    Sent,      // a sent block (">> ")
    Event,     // a line event ("== ")
};

inline bool IsVerdict(TLineKind kind) {
    return kind == TLineKind::Ok || kind == TLineKind::Bad || kind == TLineKind::TooShort;
}

}  // namespace tarvik
