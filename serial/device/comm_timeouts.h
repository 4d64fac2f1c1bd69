#pragma once
// The time-out rules of COMMTIMEOUTS as pure functions, so the POSIX device can
// apply them in user space around its waits and tests can check them without
// a device. Any thread.

#include <chrono>
#include <cstdint>
#include <optional>

#include "serial/device/comm_records.h"

namespace cport::device {

using SteadyClock = std::chrono::steady_clock;

struct ReadRule {
    enum class Kind {
        kReturnAtOnce,       // interval MAXDWORD, both totals 0: take what is there
        kReturnOnFirstByte,  // interval and multiplier MAXDWORD, 0 < constant < MAXDWORD
        kCount,              // wait for the count, bounded by total and interval
    };
    Kind kind = Kind::kCount;
    // From the start of the read; absent: no total limit.
    std::optional<std::chrono::milliseconds> total;
    // Between two bytes, counted from the first byte on; absent: no limit.
    std::optional<std::chrono::milliseconds> interval;
};

ReadRule MakeReadRule(const COMMTIMEOUTS& timeouts, std::uint32_t count);

// A read that has received `received` of `count` bytes is complete.
bool ReadSatisfied(const ReadRule& rule, std::uint32_t count, std::uint32_t received);

// When the read ends if no further byte arrives; absent: never by time.
// lastByte is the arrival time of the latest byte (ignored while received is 0).
std::optional<SteadyClock::time_point> ReadDeadline(const ReadRule& rule,
                                                    SteadyClock::time_point start,
                                                    std::uint32_t received,
                                                    SteadyClock::time_point lastByte);

// Total limit of a write of `count` bytes; absent: none.
std::optional<std::chrono::milliseconds> WriteTotal(const COMMTIMEOUTS& timeouts,
                                                    std::uint32_t count);

}  // namespace cport::device
