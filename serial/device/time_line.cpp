#include "serial/device/time_line.h"

#include <time.h>

#include <algorithm>

#include "serial/device/net/com_port_option.h"

namespace cport {

namespace {

std::int64_t Microseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

}  // namespace

LineTime LineClock::Raw() {
    return {Microseconds(CLOCK_MONOTONIC), Microseconds(CLOCK_REALTIME)};
}

LineTime LineClock::Now() {
    LineTime now = Raw();
    // The monotonic clock never goes back; the wall clock may be set back,
    // and then stands still until it has caught up.
    now.monoUs = std::max(now.monoUs, last_.monoUs);
    now.wallUs = std::max(now.wallUs, last_.wallUs);
    last_ = now;
    return now;
}

const char* LineEventName(LineEventKind kind) {
    switch (kind) {
        case LineEventKind::kCts:
            return "CTS";
        case LineEventKind::kDsr:
            return "DSR";
        case LineEventKind::kRlsd:
            return "DCD";
        case LineEventKind::kRing:
            return "RI";
        case LineEventKind::kBreak:
            return "break";
        case LineEventKind::kFrame:
            return "frame error";
        case LineEventKind::kParity:
            return "parity error";
        case LineEventKind::kOverrun:
            return "overrun";
        case LineEventKind::kBufferOverrun:
            return "buffer overrun";
        case LineEventKind::kOpened:
            return "opened";
        case LineEventKind::kClosed:
            return "closed";
        case LineEventKind::kLost:
            return "line lost";
        case LineEventKind::kBack:
            return "back";
        case LineEventKind::kNoLineEvents:
            return "no line events";
        case LineEventKind::kUnconfirmed:
            return "unconfirmed";
    }
    return "?";
}

std::string UnconfirmedSettingsText(std::uint32_t settings) {
    return device::net::ComPortSettingNames(settings);
}

}  // namespace cport
