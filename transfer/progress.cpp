#include "transfer/progress.h"

#include <cstdio>

namespace tarvik::transfer {

namespace {
constexpr auto kReportEvery = std::chrono::milliseconds(50);
}

ProgressMeter::ProgressMeter(ProgressHandler handler)
    : handler_(std::move(handler)), start_(Clock::now()), lastReport_(start_) {}

void ProgressMeter::Update(bool force) {
    const auto now = Clock::now();
    if (!force && now - lastReport_ < kReportEvery)
        return;
    lastReport_ = now;
    figures_.seconds = std::chrono::duration<double>(now - start_).count();
    figures_.rate = figures_.seconds > 0 ? double(figures_.bytes) / figures_.seconds : 0;
    figures_.secondsLeft = figures_.total > 0 && figures_.rate > 0
                               ? double(figures_.total - std::min(figures_.total, figures_.bytes)) /
                                     figures_.rate
                               : -1;
    if (handler_)
        handler_(figures_);
}

void ProgressMeter::Finish() {
    figures_.done = true;
    Update(true);
}

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.2f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string FormatSeconds(double seconds) {
    if (seconds < 0)
        return "?";
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace tarvik::transfer
