#pragma once
// A Line for a face whose port is read and written on a thread other than
// the engine's: the face feeds what arrives (Feed, from its own thread) and
// writes through the function it gives (called on the engine's thread; the
// face may hand the bytes over to its own). The engine waits for bytes on a
// condition variable; Lose makes every later Read and Write fail.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "transfer/line.h"

namespace tarvik::transfer {

class FedLine : public Line {
  public:
    // Writes every byte or throws; what it throws leaves Write as
    // ETransfer(kLine) with the same message.
    using Writer = std::function<void(std::string_view)>;
    explicit FedLine(Writer writer) : writer_(std::move(writer)) {}

    // Any thread: bytes that arrived on the line.
    void Feed(std::string_view bytes);
    // Any thread: the line is gone; `why` is the message of the reads and
    // writes that follow.
    void Lose(const std::string& why);

    void Write(std::string_view bytes) override;
    std::size_t Read(std::string& into, std::size_t max, Clock::time_point deadline) override;
    void Interrupt() override;
    void ClearInterrupt() override;

  private:
    void ThrowIfLost() const;  // with mutex_ held

    Writer writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string pending_;
    std::size_t taken_ = 0;  // bytes at pending_'s front already read
    bool interrupted_ = false;
    std::optional<std::string> lost_;
};

}  // namespace tarvik::transfer
