#pragma once
// Plays replay blocks in their recorded time. Playing starts with the first
// byte the port sends (a port empties its input when it opens, so nothing
// can be played before) or at a set time. With `answer`, each block that
// had a request in the capture waits until as many bytes have arrived and
// then keeps its recorded gap after them; otherwise every block keeps its
// gap after the one before. Gaps are divided by `speed`. With `loop` the
// first block follows the last with its own gap. The simulator's
// thread only.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tools/simulator/replay_script.h"

namespace tarvik::sim {

struct ReplayOptions {
    std::vector<ReplayBlock> blocks = {};
    double speed = 1.0;  // above 0
    bool answer = false;
    bool loop = false;  // after the last block, the first again, for ever
    // Start this long after the simulator starts, without waiting for a
    // byte; none: at the first byte.
    std::optional<std::chrono::milliseconds> startAfter;
};

class ReplayPlayer {
  public:
    using Clock = std::chrono::steady_clock;

    ReplayPlayer(const ReplayOptions& options, Clock::time_point now);

    // Bytes from the port arrived at `now`.
    void OnInput(const std::string& bytes, Clock::time_point now);
    // When the next block is due; none while it waits for bytes or when all
    // are played.
    std::optional<Clock::time_point> Due() const { return due_; }
    // The blocks due at `now`, in order (each its own string, so a writer
    // can keep them apart); moves on to the next.
    std::vector<std::string> TakeDue(Clock::time_point now);

  private:
    void Start(Clock::time_point at);
    // Sets due_ for the block at next_ where it can be known.
    void Schedule(Clock::time_point previousDue);
    Clock::duration Scaled(std::int64_t us) const;

    const ReplayOptions& options_;
    std::size_t next_ = 0;
    bool started_ = false;
    std::optional<Clock::time_point> due_;
    Clock::time_point lastDue_;
    std::string got_;  // bytes arrived towards the next block's request
};

}  // namespace tarvik::sim
