#pragma once
// The engine's side of a line for one transfer: a read buffer, reads by byte
// with time limits, the cancel switch, and the progress meter. Engine thread.

#include <atomic>
#include <optional>
#include <string>

#include "transfer/line.h"
#include "transfer/progress.h"

namespace tarvik::transfer {

class Channel {
  public:
    Channel(Line& line, const std::atomic<bool>& cancel, ProgressHandler progress);

    void Write(std::string_view bytes);
    // The next byte, or nullopt when `ms` passed. ETransfer(kCancelled) after a cancel.
    std::optional<unsigned char> ReadByte(std::int64_t ms);
    // `count` bytes, each within `byteMs` of the one before; false when one was late.
    bool ReadBytes(std::string& into, std::size_t count, std::int64_t byteMs);
    // Drops what arrives until the line was quiet for `quietMs`.
    void Purge(std::int64_t quietMs);
    // Drops what has arrived already.
    void DropPending();
    // Keeps reading into Heard() until the deadline. ETransfer(kCancelled).
    void IdleUntil(Clock::time_point deadline);
    // Waits until something arrives or the deadline passes, adding it to Heard().
    void Listen(Clock::time_point deadline);
    std::string& Heard() { return heard_; }

    // ETransfer(kCancelled) when a cancel was asked for.
    void CheckCancel() const;
    // Tells the far end the transfer is over (CAN CAN ..., as the protocols
    // want it), without throwing.
    void SendCancel() noexcept;

    ProgressMeter& Meter() { return meter_; }
    Progress& Figures() { return meter_.Figures(); }

  private:
    // Appends to buffer_ whatever arrives by the deadline; false at the deadline.
    bool Fill(Clock::time_point deadline);

    Line& line_;
    const std::atomic<bool>& cancel_;
    ProgressMeter meter_;
    std::string buffer_;
    std::size_t taken_ = 0;
    std::string heard_;
};

Clock::time_point After(std::int64_t ms);

}  // namespace tarvik::transfer
