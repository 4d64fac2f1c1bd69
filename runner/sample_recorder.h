#pragma once
// --samples: every received line read as numbers (samples/) and streamed as
// CSV rows, whatever the transcript's framing. A file that cannot be written
// is refused when the recorder is made, before the port opens; a write that
// fails later is told once on standard error and recording stops, while the
// run goes on (as a capture does). Main thread (the port's hand-over).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "samples/sample_csv.h"
#include "samples/sample_lines.h"
#include "samples/sample_parser.h"
#include "serial/device/time_line.h"

namespace tarvik::runner {

class SampleRecorder {
  public:
    // Throws samples::ESampleCsv when the file cannot be written.
    SampleRecorder(const std::string& fileName, samples::SampleFormat format);

    // A block read, with the times of its first and last byte; each line it
    // completes becomes a row (flushed, so that the file follows the line).
    void Received(std::string_view bytes, const cport::TransferTimes& times);

    // The last line, if it lacks its LF, then the file completed and closed;
    // what goes wrong is told on standard error. A second call does nothing.
    void Finish();

    const samples::SampleParser& Parser() const { return parser_; }
    std::uint64_t TooLong() const { return lines_.TooLong(); }

  private:
    void Write(const std::vector<samples::SampleLine>& lines);
    // Told once; the recording stops there.
    void Failed(const std::string& why);

    samples::SampleLines lines_;
    samples::SampleParser parser_;
    samples::SampleCsvWriter writer_;
    std::vector<samples::ChannelValue> values_;
    bool stopped_ = false;
};

}  // namespace tarvik::runner
