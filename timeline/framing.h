#pragma once
// One line per message: received blocks (what one read took from the port,
// with the monotonic times of its first and last byte) cut into messages by a
// rule. Plain C++ without Qt, so that the window and a headless runner frame
// alike. Any thread; one Framer belongs to one thread at a time.
//
// A gap rule cuts only where the gap is proven: a byte is known to have come
// within an interval (from when the driver was last seen without it to when
// it was read), and the next block's earliest moment must lie the gap
// beyond the latest moment of the byte before. Whoever waits for the line to
// go quiet (the window's timer) first takes what the device already holds,
// then calls Poll() with the moment the device was last seen empty: a
// message is closed at a gap the device saw, never by the waiter's clock.
// Where the intervals cannot tell, the bytes stay together.
//
// Where timing cannot tell (bytes of two frames taken in one read, a far end
// that stalls mid-frame) a chosen check value repairs the cuts: a message
// that fails its check but splits into frames that each hold it is cut
// there; a piece that fails is held back until the pieces after it complete
// it into a frame that holds it, or until the line has been quiet for the
// rule's hold time (then it goes out as it came).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fun {
struct TCheckValue;
}

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
    // Gap, EndByte: the check value that repairs cuts where timing cannot
    // tell; null for none. Static storage (fun::CheckValues()).
    const fun::TCheckValue* check = nullptr;
    // How long a piece that fails the check waits for the rest, µs after its
    // last byte; 0: twice the gap, at least kMinHoldUs.
    std::int64_t holdUs = 0;
};

inline constexpr std::int64_t kMinHoldUs = 500'000;

// One read: the bytes and the monotonic times (µs) of its first and last byte.
struct ReceivedBlock {
    std::string_view bytes;
    std::int64_t firstUs = 0;
    std::int64_t lastUs = 0;
    // The earliest its first byte may have come; 0: firstUs (exact times).
    std::int64_t earliestUs = 0;
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

    // Appends the message being gathered and every piece held back, as they
    // are (the port closed, a send, the rule changes).
    void Close(std::vector<Message>& out);

    // Appends what is due when the line is known quiet since `quietUs`
    // (monotonic µs: nothing arrived from then on): the message being
    // gathered once that is the gap after its last byte, held pieces once
    // it is the hold time after theirs.
    void Poll(std::int64_t quietUs, std::vector<Message>& out);
    // When Poll() has something to do; nothing while nothing waits.
    std::optional<std::int64_t> DueUs() const;

    bool Pending() const { return !pending_.bytes.empty(); }
    // The time of the last byte gathered so far; meaningful while Pending().
    std::int64_t PendingLastUs() const { return pending_.lastUs; }
    // Pieces that fail the check and wait for the rest.
    bool Holding() const { return !held_.empty(); }

    // Told of every place a gap rule left uncut though the arrival times
    // allow a gap there: `at` counts the bytes added before it. For judging
    // the framing (a benchmark), not for framing.
    void WatchUndecided(std::function<void(std::uint64_t at)> watcher) {
        undecided_ = std::move(watcher);
    }

  private:
    void Take(std::string_view bytes, std::int64_t firstUs, std::int64_t lastUs);
    void ClosePending(std::vector<Message>& out);
    // A finished message: out as it is, or through the check's repair.
    void Finish(Message message, std::vector<Message>& out);
    // Whether the held pieces from `first` on are a run of frames; if so they
    // go out as those frames, after the pieces before `first` as they came.
    bool EmitFrames(std::size_t first, std::vector<Message>& out);
    void ReleaseHeld(std::vector<Message>& out);
    std::int64_t HoldUs() const;
    void NoteUndecided(const ReceivedBlock& block, std::int64_t earliestUs);

    FramingRule rule_;
    Message pending_;
    std::vector<Message> held_;
    std::uint64_t added_ = 0;          // bytes added so far
    std::int64_t lastEarliestUs_ = 0;  // the earliest the latest byte added may have come
    std::function<void(std::uint64_t)> undecided_;
};

// The whole stream at once: every block through one Framer; the last message
// is closed when `closeLast` (the line has gone quiet since).
std::vector<Message> FrameBlocks(const std::vector<ReceivedBlock>& blocks, const FramingRule& rule,
                                 bool closeLast);

}  // namespace tarvik::timeline
