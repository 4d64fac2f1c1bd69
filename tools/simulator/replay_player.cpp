#include "tools/simulator/replay_player.h"

#include <cstdio>

namespace tarvik::sim {

ReplayPlayer::ReplayPlayer(const ReplayOptions& options, Clock::time_point now)
    : options_(options) {
    if (options_.startAfter)
        Start(now + *options_.startAfter);
}

ReplayPlayer::Clock::duration ReplayPlayer::Scaled(std::int64_t us) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::micro>(double(us) / options_.speed));
}

void ReplayPlayer::Start(Clock::time_point at) {
    started_ = true;
    lastDue_ = at;
    Schedule(at);
}

void ReplayPlayer::Schedule(Clock::time_point previousDue) {
    due_.reset();
    if (next_ >= options_.blocks.size() && options_.loop)
        next_ = 0;
    if (next_ >= options_.blocks.size())
        return;
    const ReplayBlock& block = options_.blocks[next_];
    if (options_.answer && !block.request.empty()) {
        return;  // OnInput schedules it once its request is in
    }
    due_ = previousDue + Scaled(block.sincePreviousUs);
}

void ReplayPlayer::OnInput(const std::string& bytes, Clock::time_point now) {
    if (!started_) {
        Start(now);
        // The bytes that start the playing answer nothing unless the first
        // block waits for a request.
        if (!options_.answer || options_.blocks.front().request.empty())
            return;
    }
    if (!options_.answer || next_ >= options_.blocks.size())
        return;
    got_ += bytes;
    const ReplayBlock& block = options_.blocks[next_];
    if (due_ || block.request.empty() || got_.size() < block.request.size())
        return;
    if (got_.compare(0, block.request.size(), block.request) != 0) {
        std::fprintf(stderr,
                     "tarvik-sim: block %zu answers other bytes than the capture's request\n",
                     next_ + 1);
    }
    got_.erase(0, block.request.size());
    due_ = now + Scaled(block.sinceRequestUs);
}

std::vector<std::string> ReplayPlayer::TakeDue(Clock::time_point now) {
    std::vector<std::string> out;
    // A loop of blocks without gaps would be due for ever: one round a call.
    while (due_ && *due_ <= now && out.size() < options_.blocks.size()) {
        out.push_back(options_.blocks[next_].bytes);
        lastDue_ = *due_;
        ++next_;
        Schedule(lastDue_);
        // A request that came in early already counts for the next block.
        if (options_.answer && !due_ && next_ < options_.blocks.size())
            OnInput({}, now);
    }
    return out;
}

}  // namespace tarvik::sim
