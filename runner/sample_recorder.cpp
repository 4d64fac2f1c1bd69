#include "runner/sample_recorder.h"

#include <cstdio>

#include "base/terminal_text.h"

namespace tarvik::runner {

SampleRecorder::SampleRecorder(const std::string& fileName, samples::SampleFormat format)
    : parser_(format), writer_(fileName) {}

void SampleRecorder::Received(std::string_view bytes, const cport::TransferTimes& times) {
    if (stopped_) return;
    // A read without times (none taken) is stamped now.
    const cport::LineTime now = cport::LineClock::Raw();
    std::vector<samples::SampleLine> lines;
    lines_.Add(bytes, times.first.Valid() ? times.first : now, times.last.Valid() ? times.last : now,
               lines);
    if (!lines.empty()) Write(lines);
}

void SampleRecorder::Write(const std::vector<samples::SampleLine>& lines) {
    try {
        for (const samples::SampleLine& line : lines) {
            if (parser_.Parse(line.text, values_)) writer_.Row(line.time.wallUs, values_, parser_.ChannelNames());
        }
        writer_.Flush();
    } catch (const samples::ESampleCsv& error) {
        Failed(error.what());
    }
}

void SampleRecorder::Failed(const std::string& why) {
    if (stopped_) return;
    stopped_ = true;
    std::fprintf(stderr, "tarvik2-run: %s; the samples stop here\n", ForTerminal(why).c_str());
}

void SampleRecorder::Finish() {
    if (!stopped_) {
        std::vector<samples::SampleLine> lines;
        lines_.Close(lines);
        Write(lines);
    }
    try {
        writer_.Finish();
    } catch (const samples::ESampleCsv& error) {
        Failed(error.what());
    }
    stopped_ = true;
}

}  // namespace tarvik::runner
