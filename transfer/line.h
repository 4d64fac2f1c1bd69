#pragma once
// The narrow interface through which the engine talks to a line: a face's
// port, or a file descriptor (tests, benchmarks). The engine calls Write and
// Read from its own thread, one at a time; Interrupt may come from any thread.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik::transfer {

using Clock = std::chrono::steady_clock;

class Line {
  public:
    virtual ~Line() = default;

    // Writes every byte (returns when the line took them). Throws
    // ETransfer(kLine) when the line fails.
    virtual void Write(std::string_view bytes) = 0;

    // Waits until a byte has arrived, the deadline passes or an interrupt
    // is pending; appends what arrived (at most `max` bytes) to `into` and
    // returns how many. 0: the deadline passed or an interrupt is pending.
    // Throws ETransfer(kLine) when the line is lost.
    virtual std::size_t Read(std::string& into, std::size_t max, Clock::time_point deadline) = 0;

    // Any thread: makes the pending and every later Read return at once,
    // until ClearInterrupt. How a cancel reaches a waiting engine.
    virtual void Interrupt() = 0;
    virtual void ClearInterrupt() = 0;
};

}  // namespace tarvik::transfer
