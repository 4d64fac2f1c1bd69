#pragma once
// The window's options beyond its first eight pages: how the logs show the
// line (times, sent blocks, one line per message, line events) and the line
// settings the top row has no room for. Every option starts off; each has a
// command-line switch (app/command_line.h). Plain values; main thread.

#include <cstdint>
#include <optional>
#include <string_view>

#include "codec/check_value.h"
#include "serial/port/com_types.h"
#include "timeline/log_marks.h"
#include "timeline/timestamp.h"

namespace tarvik {

// In the order of timeline::MessageRuleKind, which the switch gives.
enum class TMessageRule {
    PerArrival,  // one line per block read, as always
    GapAuto,     // until the line is quiet for 3.5 character times
    GapMs,       // until the line is quiet for gapMs
    EndByte,     // up to and including endByte
};

// How received bytes are shown: the top row's "ASC&II" decides between the
// two forms of old; the text form shows text protocols as they read.
enum class TDisplayForm {
    AsTicked,  // "ASC&II" ticked: letters and digits as characters; unticked: 0xHH
    TextForm,  // printable ASCII as itself, \r \n \t, \xHH (fun::BytesToText)
};

struct TLineOptions {
    timeline::TimestampMode timestamps = timeline::TimestampMode::Off;
    bool logSent = false;  // each Send also writes a marked line into the active log
    TMessageRule messages = TMessageRule::PerArrival;
    std::int32_t gapMs = 10;       // GapMs: the quiet time, ms (> 0)
    unsigned char endByte = '\r';  // EndByte
    bool logEvents = false;        // port opened / closed / lost / back, modem lines, errors
    bool reconnect = false;        // a lost port is opened again when its device returns
    // Each received line ends with a mark: its last bytes are this check
    // value over the bytes before them, or not. Null: no mark. Static storage.
    const fun::TCheckValue* check = nullptr;
    // Port settings given at start; empty keeps the window's own.
    std::optional<cport::TDataBits> dataBits;
    std::optional<cport::TStopBits> stopBits;
    std::optional<cport::TFlowControl> flowControl;
    std::optional<std::int32_t> baudRate;  // bits per second; a rate not listed is custom
    std::optional<cport::TParityBits> parity;
    // The timer stops after this many sends; 0: it runs until switched off.
    std::int32_t sendCount = 0;
    TDisplayForm display = TDisplayForm::AsTicked;
    // --display hex: "ASC&II" unticked at start (ascii, the default, ticked).
    bool asciiUnticked = false;

    // The receive path is today's, byte for byte and at the same cost.
    bool PlainReceive() const {
        return timestamps == timeline::TimestampMode::Off && messages == TMessageRule::PerArrival &&
               check == nullptr;
    }
};

// The marks of sent blocks and events (timeline/log_marks.h).
using timeline::kEventMark;
using timeline::kSentMark;

// "CR", "LF" (any case), one character in double quotes, or a number 0..255
// in the integer notation ("13", "0x0D", "$0D"); nothing for anything else.
std::optional<unsigned char> ParseEndByte(std::string_view text);

}  // namespace tarvik
