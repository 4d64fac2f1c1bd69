#pragma once
// The transcript a run writes on standard output: one line per block
// received, per block sent and per line event, in the order they happened,
// each with its time, in the form the window's logs save with timestamps and
// sent blocks on ("hh:mm:ss.mmm " in front, sent blocks marked ">> ", events
// marked "== ", received bytes in the display form with their count).
// Main thread.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "timeline/timestamp.h"

namespace tarvik::runner {

// A moment of the run: monotonic µs for intervals, wall-clock µs since 1970
// (UTC) for the time shown.
struct Stamp {
    std::int64_t monoUs = 0;
    std::int64_t wallUs = 0;
};

// The clocks now (timeline::Now): where the port gives no time of its own.
Stamp NowStamp();

class Transcript {
  public:
    // Writes to `out` (not owned). The lines of what happens on the line are
    // gathered and written out by Flush, which the session calls whenever the
    // program is about to sleep: a run cut short keeps what it wrote, and a
    // quick exchange pays no write of its own. `timestamps` as the window's
    // switch of that name: the time of day, or seconds since the previous
    // line or the start.
    Transcript(std::FILE* out, bool ascii,
               timeline::TimestampMode timestamps = timeline::TimestampMode::TimeOfDay);

    // The lines as the window writes them into its log (without the newline).
    // `mark`: what a received line ends with (a check value's " ok"), or "".
    void Received(std::string_view bytes, const Stamp& at, std::string_view mark = {});
    void Sent(std::string_view bytes, const Stamp& at);
    void Event(std::string_view what, const Stamp& at);
    // A line of the report that follows the transcript: written at once,
    // after everything gathered.
    void Write(const std::string& line);
    // Writes out the lines gathered.
    void Flush();
    bool HasGathered() const { return holdsSent_ || !gathered_.empty(); }
    // Flush.
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

  private:
    std::string Timestamp(const Stamp& at);
    void Put(const std::string& line);
    // A line of what happened on the line, in pieces: its time, a block in
    // the display form with its count, its end.
    void BeginLine(const Stamp& at);
    void AppendBlock(std::string_view bytes);
    void EndLine();
    // The last block sent, its line not made yet.
    void WriteHeldSent();

    std::FILE* out_;
    bool ascii_;
    timeline::TimestampMode timestamps_;
    std::int64_t startUs_;
    std::int64_t previousUs_;
    std::string gathered_;
    std::string heldSent_;
    Stamp heldSentAt_;
    bool holdsSent_ = false;
};

}  // namespace tarvik::runner
