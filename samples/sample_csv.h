#pragma once
// The samples as CSV: a header "time" and one column per channel name, then
// one row per message: the arrival time as wall-clock seconds since 1970 (UTC)
// with 6 decimals (exact to the µs), then each channel's value in the fewest
// digits that read back equal, an empty cell where the message had none.
// Names are quoted where they must be (a comma, a quote, a line end). Lines
// end with LF.
//
// The writer streams: each row goes out as it comes, holding nothing, so a
// headless session's file grows without the program's memory growing. A
// channel named after the header was written (a label first seen late) is
// added to the header when the writer finishes, if the file is a regular one
// (rewritten through a file beside it); rows written before then simply have
// fewer cells. One writer belongs to one thread at a time.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "samples/sample_parser.h"

namespace samples {

class SampleStore;

// A file that cannot be written or a text that is no sample CSV; what() says
// which and why.
class ESampleCsv : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class SampleCsvWriter {
  public:
    // Opens (creates or truncates) the file at once, so that a file that
    // cannot be written is refused before the session starts. Throws ESampleCsv.
    explicit SampleCsvWriter(const std::string& fileName);
    ~SampleCsvWriter();  // Finish(), errors ignored
    SampleCsvWriter(const SampleCsvWriter&) = delete;
    SampleCsvWriter& operator=(const SampleCsvWriter&) = delete;

    // One message's values at `wallUs`, with the channel names known now
    // (the header is written with the first row). Throws ESampleCsv.
    void Row(std::int64_t wallUs, std::span<const ChannelValue> values,
             const std::vector<std::string>& names);

    // Hands what is buffered to the system (a signal is coming, a test reads).
    void Flush();

    // Flushes, completes the header and closes. Throws ESampleCsv; a second
    // call does nothing.
    void Finish();

    std::uint64_t Rows() const { return rows_; }

  private:
    void WriteHeader(const std::vector<std::string>& names);
    void Fail(const char* what);
    void CompleteHeader();

    std::string fileName_;
    std::FILE* file_ = nullptr;
    std::vector<std::string> written_;  // the names in the header as written
    std::vector<std::string> names_;    // every name known
    bool headerDone_ = false;
    std::uint64_t rows_ = 0;
    std::string line_;
};

// Writes the whole store (the window's export): channels' samples at one time
// share a row, one value per channel per row; channels without a name get
// their number. A regular file is replaced only when the new one is
// complete. Throws ESampleCsv (the old file kept).
void WriteStoreCsv(const SampleStore& store, const std::vector<std::string>& names,
                   const std::string& fileName);

// A sample CSV read back (for tests and benchmarks).
struct SampleCsv {
    std::vector<std::string> names;  // without "time"
    struct Row {
        std::int64_t wallUs = 0;
        std::vector<std::optional<double>> values;  // as many as the row's cells
        friend bool operator==(const Row&, const Row&) = default;
    };
    std::vector<Row> rows;
};

// Reads the text of a sample CSV. Throws ESampleCsv naming the line (from 1)
// of anything that is not one.
SampleCsv ReadSampleCsv(std::string_view text);

// The text of a row's time: "1765298461.123456".
std::string CsvTime(std::int64_t wallUs);

}  // namespace samples
