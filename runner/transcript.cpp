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

Transcript::~Transcript() {
    Flush();
}

void Transcript::Received(std::string_view bytes, const Stamp& at, std::string_view mark) {
    Put(Timestamp(at) + Block(bytes, ascii_) + std::string(mark));
}

void Transcript::Sent(std::string_view bytes, const Stamp& at) {
    Put(Timestamp(at) + std::string(timeline::kSentMark) + Block(bytes, ascii_));
}

void Transcript::Event(std::string_view what, const Stamp& at) {
    Put(Timestamp(at) + std::string(timeline::kEventMark) + std::string(what));
}

void Transcript::Put(const std::string& line) {
    // Names of exchanges, patterns and errors come from files and the line:
    // no byte of theirs may act on the terminal.
    gathered_ += ForTerminal(line);
    gathered_ += '\n';
    // A long stretch without a pause is written as it goes.
    constexpr std::size_t kMostGathered = 64 * 1024;
    if (gathered_.size() >= kMostGathered)
        Flush();
}

void Transcript::Write(const std::string& line) {
    Put(line);
    Flush();
}

void Transcript::Flush() {
    if (gathered_.empty())
        return;
    std::fwrite(gathered_.data(), 1, gathered_.size(), out_);
    std::fflush(out_);
    gathered_.clear();
}

}  // namespace tarvik::runner
