#pragma once
// The time written in front of a log line. Plain C++ without Qt; any thread.

#include <cstdint>
#include <string>

namespace tarvik::timeline {

enum class TimestampMode {
    Off,            // no time: the line as it always was
    TimeOfDay,      // local wall-clock time, "hh:mm:ss.mmm "
    SincePrevious,  // seconds since the previous line's time, "+s.uuuuuu "
    SinceStart,     // seconds since the port was opened, "s.uuuuuu "
};

// A moment as the log needs it: monotonic µs for intervals, wall-clock µs
// since the epoch for the time of day.
struct Moment {
    std::int64_t monotonicUs = 0;
    std::int64_t wallUs = 0;
};

// The clocks now.
Moment Now();

// The text in front of a line at `at` (a trailing space included; "" for
// Off). `previousUs` and `startUs` are monotonic µs; an interval that would
// be negative shows as 0.
std::string FormatTimestamp(TimestampMode mode, const Moment& at, std::int64_t previousUs,
                            std::int64_t startUs);

}  // namespace tarvik::timeline
