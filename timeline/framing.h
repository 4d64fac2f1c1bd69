#pragma once
// One line per message: received blocks (what one read took from the port,
// with the monotonic times of its first and last byte) cut into messages by a
// rule. Plain C++ without Qt, so that the window and a headless runner frame
// alike. Any thread; one Framer belongs to one thread at a time.
//
// A gap rule closes a message only when the next block arrives late enough.
// Whoever waits for the line to go quiet (the window's timer) calls Close()
// once PendingLastUs() + the gap has passed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::timeline {

enum class FramingKind {
    PerArrival,  // every block is one message, as long as it is
    Gap,         // a message ends when the line has been quiet for gapUs
    EndByte,     // a message ends with (and includes) endByte
};

// A message of a gap or end-byte rule longer than this is split.
inline constexpr std::size_t kMaxMessageBytes = 4096;

struct FramingRule {
    FramingKind kind = FramingKind::PerArrival;
    std::int64_t gapUs = 0;                   // Gap: the quiet time that ends a message, µs (> 0)
    unsigned char endByte = 0;                // EndByte: the byte that ends a message
    std::size_t maxBytes = kMaxMessageBytes;  // Gap, EndByte: longest message (> 0)
};

// One read: the bytes and the monotonic times (µs) of its first and last byte.
struct ReceivedBlock {
    std::string_view bytes;
    std::int64_t firstUs = 0;
    std::int64_t lastUs = 0;
};

struct Message {
    std::string bytes;
    std::int64_t firstUs = 0;  // time of the first byte
    std::int64_t lastUs = 0;   // time of the last byte
};

// 3.5 character times of the line: a start bit, the data bits, a parity bit
// when there is one, the stop bits (in halves: 2, 3 or 4), at `baud` bits per
// second; in µs, at least 1. The quiet time that ends a Modbus RTU frame.
std::int64_t AutoGapUs(std::int64_t baud, int dataBits, bool parityBit, int stopBitHalves);

class Framer {
  public:
    explicit Framer(FramingRule rule = {});

    const FramingRule& Rule() const { return rule_; }

    // Cuts the block into the rule's messages and appends the finished ones to
    // `out`. Within a block, the first byte carries the block's first time and
    // every later byte its last time (a read cannot tell more).
    void Add(const ReceivedBlock& block, std::vector<Message>& out);

    // Appends the message being gathered, if any (the line went quiet, the
    // port closed, the rule changes).
    void Close(std::vector<Message>& out);

    bool Pending() const { return !pending_.bytes.empty(); }
    // The time of the last byte gathered so far; meaningful while Pending().
    std::int64_t PendingLastUs() const { return pending_.lastUs; }

  private:
    void Take(std::string_view bytes, std::int64_t firstUs, std::int64_t lastUs);

    FramingRule rule_;
    Message pending_;
};

// The whole stream at once: every block through one Framer; the last message
// is closed when `closeLast` (the line has gone quiet since).
std::vector<Message> FrameBlocks(const std::vector<ReceivedBlock>& blocks, const FramingRule& rule,
                                 bool closeLast);

}  // namespace tarvik::timeline
