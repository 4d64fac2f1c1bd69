#include "runner/transcript.h"

#include "base/terminal_text.h"
#include "codec/fun.h"
#include "timeline/log_marks.h"

namespace tarvik::runner {

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

// A line is escaped piece by piece into what is gathered: each piece but
// the last ends in a space, so no UTF-8 sequence spans two of them.
void Transcript::Received(std::string_view bytes, const Stamp& at, std::string_view mark) {
    BeginLine(at);
    AppendBlock(bytes);
    AppendForTerminal(mark, gathered_);
    EndLine();
}

void Transcript::Sent(std::string_view bytes, const Stamp& at) {
    // Written out when the next line comes or the lines go out: the time
    // between a request and the wait for its answer is the answer's time,
    // and the line's text can as well be made after the answer came.
    WriteHeldSent();
    heldSent_.assign(bytes.data(), bytes.size());
    heldSentAt_ = at;
    holdsSent_ = true;
}

void Transcript::WriteHeldSent() {
    if (!holdsSent_)
        return;
    holdsSent_ = false;
    BeginLine(heldSentAt_);
    gathered_ += timeline::kSentMark;
    AppendBlock(heldSent_);
    EndLine();
}

void Transcript::Event(std::string_view what, const Stamp& at) {
    BeginLine(at);
    gathered_ += timeline::kEventMark;
    AppendForTerminal(what, gathered_);
    EndLine();
}

void Transcript::BeginLine(const Stamp& at) {
    WriteHeldSent();
    AppendForTerminal(Timestamp(at), gathered_);
}

void Transcript::AppendBlock(std::string_view bytes) {
    AppendForTerminal(fun::BytesToDisplay(bytes, ascii_), gathered_);
    gathered_ += " (";
    gathered_ += std::to_string(bytes.size());
    gathered_ += ')';
}

void Transcript::Put(const std::string& line) {
    WriteHeldSent();
    // Names of exchanges, patterns and errors come from files and the line:
    // no byte of theirs may act on the terminal.
    AppendForTerminal(line, gathered_);
    EndLine();
}

void Transcript::EndLine() {
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
    WriteHeldSent();
    if (gathered_.empty())
        return;
    std::fwrite(gathered_.data(), 1, gathered_.size(), out_);
    std::fflush(out_);
    gathered_.clear();
}

}  // namespace tarvik::runner
