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

namespace tarvik::runner {

// A moment of the run: monotonic µs for intervals, wall-clock µs since 1970
// (UTC) for the time shown.
struct Stamp {
    std::int64_t monoUs = 0;
    std::int64_t wallUs = 0;
};

// The clocks now. The one place the runner reads them.
Stamp NowStamp();

// The lines as the window writes them into its log (without the newline).
std::string ReceivedLine(std::string_view bytes, const Stamp& at, bool ascii);
std::string SentLine(std::string_view bytes, const Stamp& at, bool ascii);
std::string EventLine(std::string_view what, const Stamp& at);

class Transcript {
  public:
    // Writes to `out` (not owned), flushed line by line so that a run cut
    // short keeps what it wrote.
    Transcript(std::FILE* out, bool ascii) : out_(out), ascii_(ascii) {}

    void Received(std::string_view bytes, const Stamp& at) {
        Write(ReceivedLine(bytes, at, ascii_));
    }
    void Sent(std::string_view bytes, const Stamp& at) { Write(SentLine(bytes, at, ascii_)); }
    void Event(std::string_view what, const Stamp& at) { Write(EventLine(what, at)); }
    // A line of the report that follows the transcript.
    void Write(const std::string& line);

  private:
    std::FILE* out_;
    bool ascii_;
};

}  // namespace tarvik::runner
