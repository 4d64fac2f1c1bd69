#pragma once
// tarvik2-run's command line: the port and its settings (the window's names
// and values), what to run (a saved send history or a Lua script), and the
// reports. Plain values; main thread.

#include <QStringList>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/text.h"
#include "runner/history_file.h"
#include "samples/sample_format.h"
#include "serial/port/com_types.h"
#include "timeline/message_rule.h"
#include "timeline/timestamp.h"

namespace fun {
struct TCheckValue;
}

class QCommandLineParser;

namespace tarvik::runner {

// A command line the runner cannot follow; the message says why (UTF-8).
class ERunOptions : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The line settings a run opens its port with; empty keeps the window's own.
struct PortSettings {
    std::optional<cport::TBaudRate> baudRate;
    std::optional<std::int32_t> customBaudRate;  // bits per second, with brCustom
    std::optional<cport::TParityBits> parity;
    std::optional<cport::TDataBits> dataBits;
    std::optional<cport::TStopBits> stopBits;
    std::optional<cport::TFlowControl> flowControl;
};

// The order of a saved history's lines: the file holds the newest first.
struct RunOptions {
    Text port;  // name or path as the file system's bytes; "" when none given
    PortSettings settings;
    std::string historyFile;  // one of these two
    std::string scriptFile;
    // The sequence set (docs/sequences.md): its sends for send_sequence(),
    // its rules answering during the run; "" for none.
    std::string sequencesFile;
    // --answer: no history and no script; the set's rules answer the line
    // until a stop signal, or for `forSeconds` when that is above 0.
    bool answer = false;
    double forSeconds = 0;
    HistoryOrder order = HistoryOrder::NewestLast;
    int repeat = 1;                 // how often the history runs
    std::int32_t delayMs = 300;     // between history lines, the window's timer default
    std::int32_t timeoutMs = 1000;  // an expect's limit when the script gives none
    bool reconnect = false;         // a lost line is opened again when it comes back
    bool ascii = true;  // the display form shows letters and digits as such, as ASC&II does
    // The time in front of each transcript line, as the window's --timestamps.
    timeline::TimestampMode timestamps = timeline::TimestampMode::TimeOfDay;
    std::string junitFile;  // "" for none
    // The session captured into files (capture/capture_writer.h), as the
    // window's --capture and --capture-raw; "" for none.
    std::string captureFile;     // every byte both ways with its time, and the line events
    std::string captureRawFile;  // the received bytes alone
    // Every received line read as numbers in `sampleFormat` and written to
    // this CSV file (samples/sample_csv.h); "" for none.
    std::string samplesFile;
    samples::SampleFormat sampleFormat = samples::SampleFormat::kCsv;
    // One transcript line per message, as the window's --messages; by
    // default one per block read.
    timeline::MessageRuleChoice messages;
    // Each received line ends with the mark of this check value, as the
    // window's --check, which also repairs the message cuts; null for none.
    const fun::TCheckValue* check = nullptr;
};

// How received blocks become transcript lines.
struct Framing {
    timeline::MessageRuleChoice messages;
    const fun::TCheckValue* check = nullptr;
};

// Gives the parser the runner's description, options and arguments.
void DescribeRunOptions(QCommandLineParser& parser);

// The options of QCoreApplication::arguments() (the program name first).
// Raises ERunOptions for an unknown option, a value a switch cannot take, or
// neither or both of --history and --script (or --answer without a port, or
// without --sequences or --samples, or beside one of them), a capture or
// samples file given twice, empty, or named by two of --capture,
// --capture-raw and --samples, --plot-format without --samples.
RunOptions ParseRunOptions(const QStringList& arguments);

}  // namespace tarvik::runner
