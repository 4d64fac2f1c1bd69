#pragma once
// The timed form of a capture: a text file of one record per line, which a
// person can read and a script can split on spaces (docs/capture-format.md).
//
//   # tarvik2 capture 1
//   <monotonic µs> <wall-clock µs> rx <hex bytes>
//   <monotonic µs> <wall-clock µs> tx <hex bytes>
//   <monotonic µs> <wall-clock µs> ev <event> [on|off|<count>]
//
// Records stand in the order the program was told of them: a line event can
// carry a time a little before the block above it (it was taken first, and
// handed over later). Pure functions, no state; any thread.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_record.h"

namespace tarvik::capture {

// The first line of every timed capture, with its newline.
inline constexpr std::string_view kTimedHeader = "# tarvik2 capture 1\n";

// A timed capture that cannot be read; what() names the line (from 1) and
// what is wrong with it.
class ECaptureFormat : public std::runtime_error {
  public:
    ECaptureFormat(std::size_t line, const std::string& what);
    std::size_t Line() const { return line_; }

  private:
    std::size_t line_;
};

// Appends the record's line (with its newline) to `out`.
void AppendRecordLine(const CaptureRecord& record, std::string& out);

// The records of a whole timed capture (its header first; lines starting
// with '#' after it are notes and skipped). Raises ECaptureFormat at the
// first line that is not a record, including a last line cut short.
std::vector<CaptureRecord> ParseCapture(std::string_view text);

// The word an event is written as ("CTS", "frame-error", "lost").
const char* EventWord(cport::LineEventKind kind);

}  // namespace tarvik::capture
