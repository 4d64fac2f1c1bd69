#pragma once
// How far a transfer is, as the engine reports it from its own thread.

#include <cstdint>
#include <functional>
#include <string>

#include "transfer/line.h"

namespace tarvik::transfer {

struct Progress {
    std::string file;         // the file being moved (its name as sent or received)
    std::uint64_t bytes = 0;  // of the file, moved and acknowledged
    std::uint64_t total = 0;  // the file's size; 0 while not known
    std::uint64_t blocks = 0;   // blocks (or lines) moved
    std::uint64_t retries = 0;  // blocks sent or asked for again
    double seconds = 0;         // since the transfer began
    double rate = 0;            // bytes per second so far
    double secondsLeft = -1;    // at that rate; -1 while not known
    bool done = false;
    // The receiver had every block but did not answer the end (some throw
    // their last answer away as they exit).
    bool endUnconfirmed = false;          // the last report of a transfer that ended well
};

// Called on the engine's thread: at most every 50 ms, and once at the end.
using ProgressHandler = std::function<void(const Progress&)>;

// Keeps the figures and decides when a report is due.
class ProgressMeter {
  public:
    explicit ProgressMeter(ProgressHandler handler);

    Progress& Figures() { return figures_; }
    // Reports when the last report is 50 ms old (or `force`).
    void Update(bool force = false);
    void Finish();

  private:
    ProgressHandler handler_;
    Progress figures_;
    Clock::time_point start_;
    Clock::time_point lastReport_;
};

// "12.3 KiB/s", "1.05 MiB/s"
std::string FormatRate(double bytesPerSecond);
// "0:07", "1:02:03"; "?" for a negative count
std::string FormatSeconds(double seconds);

}  // namespace tarvik::transfer
