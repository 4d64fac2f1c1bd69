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

// The longest line a reader takes (a block of 16 MiB): a longer one is
// refused rather than gathered without end.
inline constexpr std::size_t kMaxCaptureLineBytes = 32u << 20;

// Reads a timed capture piece by piece, as it comes from a file, holding no
// more than one line: its header first; lines starting with '#' after it are
// notes and skipped. A last line without its end (the disk filled up while
// it was written) is left out with a warning, so a capture stopped by a full
// disk stays readable; any other line that is no record raises ECaptureFormat.
class CaptureParser {
  public:
    explicit CaptureParser(std::size_t maxLineBytes = kMaxCaptureLineBytes);

    // Parses the lines `piece` completes, handing each record to `record`.
    // Raises ECaptureFormat at once where the first line cannot be the
    // header, at a bad line, or at a line longer than the bound.
    template <typename OnRecord>
    void Feed(std::string_view piece, OnRecord&& record) {
        while (!piece.empty()) {
            std::string_view line;
            if (!TakeLine(piece, line))
                return;
            CaptureRecord parsed;
            if (ParseLine(line, parsed))
                record(std::move(parsed));
        }
    }

    // The end of the input. Raises ECaptureFormat for input without the
    // header; returns the warning for a torn last line ("" when none).
    std::string Finish();

    // The number of the line parsed last (the header is line 1).
    std::size_t Line() const { return line_; }

  private:
    // Takes the next whole line from `piece` (or from what is held and the
    // piece), advancing `piece`; false when the piece ended within a line.
    bool TakeLine(std::string_view& piece, std::string_view& line);
    // False for the header and notes.
    bool ParseLine(std::string_view line, CaptureRecord& record);
    void CheckHeaderStart(std::string_view start) const;

    std::size_t maxLineBytes_;
    std::size_t line_ = 0;
    std::string held_;  // a line begun in an earlier piece
};

// The records of a whole timed capture text, by CaptureParser. `warning`,
// when given, receives the torn last line's warning ("" when none).
std::vector<CaptureRecord> ParseCapture(std::string_view text, std::string* warning = nullptr);

// The word an event is written as ("CTS", "frame-error", "lost").
const char* EventWord(cport::LineEventKind kind);

}  // namespace tarvik::capture
