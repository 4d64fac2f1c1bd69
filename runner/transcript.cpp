#include "runner/transcript.h"

#include "base/terminal_text.h"
#include "codec/fun.h"
#include "timeline/log_marks.h"

namespace tarvik::runner {

namespace {

std::string Block(std::string_view bytes, bool ascii) {
    return fun::BytesToDisplay(bytes, ascii) + " (" + std::to_string(bytes.size()) + ")";
}

}  // namespace

Stamp NowStamp() {
    const timeline::Moment now = timeline::Now();
    return {now.monotonicUs, now.wallUs};
}

Transcript::Transcript(std::FILE* out, bool ascii, timeline::TimestampMode timestamps)
    : out_(out), ascii_(ascii), timestamps_(timestamps) {
    startUs_ = previousUs_ = NowStamp().monoUs;
}

std::string Transcript::Timestamp(const Stamp& at) {
    std::string text =
        timeline::FormatTimestamp(timestamps_, {at.monoUs, at.wallUs}, previousUs_, startUs_);
    previousUs_ = at.monoUs;
    return text;
}

void Transcript::Received(std::string_view bytes, const Stamp& at, std::string_view mark) {
    Write(Timestamp(at) + Block(bytes, ascii_) + std::string(mark));
}

void Transcript::Sent(std::string_view bytes, const Stamp& at) {
    Write(Timestamp(at) + std::string(timeline::kSentMark) + Block(bytes, ascii_));
}

void Transcript::Event(std::string_view what, const Stamp& at) {
    Write(Timestamp(at) + std::string(timeline::kEventMark) + std::string(what));
}

void Transcript::Write(const std::string& line) {
    // Names of exchanges, patterns and errors come from files and the line:
    // no byte of theirs may act on the terminal.
    const std::string shown = ForTerminal(line);
    std::fwrite(shown.data(), 1, shown.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace tarvik::runner
