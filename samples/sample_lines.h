#pragma once
// Received bytes cut into lines at LF, whatever the window's framing: the
// plot reads one message per line. Each line carries the arrival time of its
// last byte (the LF) as the device layer took it. Plain C++; one SampleLines
// belongs to one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/device/time_line.h"

namespace samples {

// A longer line is skipped (the plot reads measurements, not dumps).
inline constexpr std::size_t kMaxSampleLineBytes = 4096;

struct SampleLine {
    std::string text;  // without its LF (a CR before it stays: the parser strips it)
    cport::LineTime time;
};

class SampleLines {
  public:
    explicit SampleLines(std::size_t maxBytes = kMaxSampleLineBytes);

    // Appends to `out` the lines `bytes` completes. `first` is the time of the
    // first byte of the block, `last` of every later one (a read cannot tell
    // more), as the time line hands them.
    void Add(std::string_view bytes, cport::LineTime first, cport::LineTime last,
             std::vector<SampleLine>& out);

    // The unfinished line as it stands (the port closed, the session ended);
    // nothing when there is none or it was too long.
    void Close(std::vector<SampleLine>& out);

    // Lines longer than the bound, skipped.
    std::uint64_t TooLong() const { return tooLong_; }

  private:
    std::size_t maxBytes_;
    std::string pending_;
    cport::LineTime pendingLast_;
    bool overlong_ = false;  // the line being gathered passed the bound
    std::uint64_t tooLong_ = 0;
};

}  // namespace samples
