#pragma once
// One record of a capture: a block received, a block sent, or a line event,
// with its time. Plain data; any thread.

#include <string>

#include "serial/device/time_line.h"

namespace tarvik::capture {

enum class RecordKind : std::uint8_t {
    kReceived,  // `bytes` taken from the driver; `time`: arrival of the first
    kSent,      // `bytes` handed to the driver; `time`: when they were
    kEvent,     // `event` (its own time is `time`)
};

struct CaptureRecord {
    RecordKind kind = RecordKind::kReceived;
    cport::LineTime time;
    std::string bytes = {};       // received and sent blocks only
    cport::LineEvent event = {};  // events only; event.time equals `time`
};

// Same kind, time and content (for an event: its kind, state and count).
bool operator==(const CaptureRecord& a, const CaptureRecord& b);

}  // namespace tarvik::capture
