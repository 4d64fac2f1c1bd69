#pragma once
// What each kind of transfer can be told. Every time is in milliseconds.

#include <cstdint>
#include <optional>
#include <string>

#include "codec/pattern.h"

namespace tarvik::transfer {

enum class Mode { kText, kRaw, kXmodem, kXmodem1k, kYmodem };

// "text", "raw", "xmodem", "xmodem1k", "ymodem"; nullopt for another name.
std::optional<Mode> ModeNamed(std::string_view name);
const char* ModeName(Mode mode);

enum class LineEnd { kAsIs, kCr, kCrLf, kLf };
std::optional<LineEnd> LineEndNamed(std::string_view name);  // "asis", "cr", "crlf", "lf"

struct TextOptions {
    std::int64_t charDelayMs = 0;  // after each character
    std::int64_t lineDelayMs = 0;  // after each line (no upper limit)
    LineEnd lineEnd = LineEnd::kAsIs;
    // Waited for after each line (anywhere in what arrived since the line
    // left), before the next one; `waitTimeoutMs` at most.
    std::optional<runner::Pattern> waitFor;
    std::int64_t waitTimeoutMs = 5000;
};

struct RawOptions {
    std::size_t blockBytes = 1024;  // written at once
    std::int64_t blockDelayMs = 0;  // after each block; 0: as fast as the line takes them
};

// The protocols' limits, as the protocol texts give them; tests shorten them.
struct ProtocolTimes {
    std::int64_t startMs = 60000;      // sender: for the receiver's first C or NAK
    std::int64_t startRetryMs = 3000;  // receiver: between its C (or NAK) at the start
    std::int64_t answerMs = 10000;     // sender: for ACK or NAK of one block
    // Sender: for the answer to the end (receivers take a second to make sure
    // it was no noise), then to the end sent once more, and to a batch's end.
    std::int64_t endMs = 1200;
    std::int64_t endAgainMs = 250;
    std::int64_t blockMs = 10000;      // receiver: for the next block
    std::int64_t byteMs = 1000;        // receiver: between the bytes of one block
    std::int64_t purgeQuietMs = 250;   // receiver: quiet that ends the purge of a bad block
    std::int64_t turnaroundMs = 5;     // sender: pause before the first block and the end
    int retries = 10;                  // per block
};

struct XmodemOptions {
    bool crc = true;         // receiver: ask for CRC (falls back to the checksum)
    bool oneK = false;       // sender: 1024-byte blocks
    ProtocolTimes times;
};

}  // namespace tarvik::transfer
