#include "serial/device/comm_timeouts.h"

#include <algorithm>

namespace cport::device {

namespace {

// multiplier * count + constant reaches 2^64 ms at worst; anything past about
// 35 years is "no limit" in practice, and staying below it keeps time_point
// arithmetic from overflowing.
constexpr std::uint64_t kLongestMs = std::uint64_t{1} << 40;

std::optional<std::chrono::milliseconds> Total(std::uint32_t multiplier, std::uint32_t constant,
                                               std::uint32_t count) {
    if (multiplier == 0 && constant == 0) {
        return std::nullopt;
    }
    const std::uint64_t ms = std::min<std::uint64_t>(
        std::uint64_t{multiplier} * count + std::uint64_t{constant}, kLongestMs);
    return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

}  // namespace

ReadRule MakeReadRule(const COMMTIMEOUTS& t, std::uint32_t count) {
    ReadRule rule;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        rule.kind = ReadRule::Kind::kReturnAtOnce;
        return rule;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
        rule.kind = ReadRule::Kind::kReturnOnFirstByte;
        rule.total = std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
        return rule;
    }
    rule.kind = ReadRule::Kind::kCount;
    rule.total = Total(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count);
    if (t.ReadIntervalTimeout != 0) {
        rule.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    }
    return rule;
}

bool ReadSatisfied(const ReadRule& rule, std::uint32_t count, std::uint32_t received) {
    switch (rule.kind) {
        case ReadRule::Kind::kReturnAtOnce:
            return true;
        case ReadRule::Kind::kReturnOnFirstByte:
            return received > 0 || count == 0;
        case ReadRule::Kind::kCount:
            break;
    }
    return received >= count;
}

std::optional<SteadyClock::time_point> ReadDeadline(const ReadRule& rule,
                                                    SteadyClock::time_point start,
                                                    std::uint32_t received,
                                                    SteadyClock::time_point lastByte) {
    std::optional<SteadyClock::time_point> deadline;
    if (rule.kind == ReadRule::Kind::kReturnAtOnce) {
        return start;
    }
    if (rule.total) {
        deadline = start + *rule.total;
    }
    if (rule.kind == ReadRule::Kind::kCount && rule.interval && received > 0) {
        const auto byInterval = lastByte + *rule.interval;
        deadline = deadline ? std::min(*deadline, byInterval) : byInterval;
    }
    return deadline;
}

std::optional<std::chrono::milliseconds> WriteTotal(const COMMTIMEOUTS& t, std::uint32_t count) {
    return Total(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count);
}

}  // namespace cport::device
