#pragma once
// When the simulated device is pulled out and put back on its own: the
// schedule from the command line and the clock that follows it. Not
// thread-safe; used on the simulator's thread.

#include <chrono>
#include <cstdint>
#include <optional>

namespace tarvik::sim {

struct PlugSchedule {
    // Unplug this long after each plug (the first pty included); none: only on request.
    std::optional<std::chrono::milliseconds> unplugAfter;
    // Replug this long after each unplug, requested or scheduled; none: only on request.
    std::optional<std::chrono::milliseconds> replugAfter;
    // Scheduled unplugs at most; 0: no limit. Requested ones do not count.
    std::uint64_t cycles = 1;
};

class PlugClock {
  public:
    using Clock = std::chrono::steady_clock;

    explicit PlugClock(PlugSchedule schedule) : schedule_(schedule) {}

    // A pty appeared at `now`: arms the next scheduled unplug, if any is left.
    void Plugged(Clock::time_point now);
    // The pty went at `now`; `scheduled` when this clock asked for it.
    void Unplugged(Clock::time_point now, bool scheduled);
    // When the next scheduled change is due; none while nothing is scheduled.
    std::optional<Clock::time_point> Due() const { return due_; }

  private:
    PlugSchedule schedule_;
    std::uint64_t unplugs_ = 0;
    std::optional<Clock::time_point> due_;
};

}  // namespace tarvik::sim
