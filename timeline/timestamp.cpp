#include "timeline/timestamp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace tarvik::timeline {

namespace {

std::string Seconds(const char* sign, std::int64_t us) {
    us = std::max<std::int64_t>(us, 0);
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%06lld ", sign, static_cast<long long>(us / 1'000'000),
                  static_cast<long long>(us % 1'000'000));
    return text;
}

}  // namespace

Moment Now() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return {
        duration_cast<microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(),
        duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count()};
}

std::string FormatTimestamp(TimestampMode mode, const Moment& at, std::int64_t previousUs,
                            std::int64_t startUs) {
    switch (mode) {
        case TimestampMode::Off:
            return {};
        case TimestampMode::TimeOfDay: {
            const std::time_t seconds = static_cast<std::time_t>(at.wallUs / 1'000'000);
            // localtime_r takes a lock and consults the zone on every call;
            // lines come thousands a second, so each second's text is kept.
            thread_local std::time_t shownSecond = -1;
            thread_local char shown[32] = {};
            if (seconds != shownSecond) {
                std::tm local{};
                localtime_r(&seconds, &local);
                std::snprintf(shown, sizeof shown, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                              local.tm_sec);
                shownSecond = seconds;
            }
            const int ms = static_cast<int>((at.wallUs % 1'000'000 + 1'000'000) % 1'000'000 / 1000);
            std::string text(shown);
            text += '.';
            text += static_cast<char>('0' + ms / 100);
            text += static_cast<char>('0' + ms / 10 % 10);
            text += static_cast<char>('0' + ms % 10);
            text += ' ';
            return text;
        }
        case TimestampMode::SincePrevious:
            return Seconds("+", at.monotonicUs - previousUs);
        case TimestampMode::SinceStart:
            return Seconds("", at.monotonicUs - startUs);
    }
    return {};
}

}  // namespace tarvik::timeline
