#include "tools/simulator/plug_clock.h"

namespace tarvik::sim {

void PlugClock::Plugged(Clock::time_point now) {
    const bool left = schedule_.cycles == 0 || unplugs_ < schedule_.cycles;
    due_.reset();
    if (schedule_.unplugAfter && left) {
        due_ = now + *schedule_.unplugAfter;
    }
}

void PlugClock::Unplugged(Clock::time_point now, bool scheduled) {
    if (scheduled) {
        ++unplugs_;
    }
    due_.reset();
    if (schedule_.replugAfter) {
        due_ = now + *schedule_.replugAfter;
    }
}

}  // namespace tarvik::sim
