#include "timeline/framing.h"

#include <algorithm>
#include <span>

#include "codec/check_frames.h"

namespace tarvik::timeline {

std::int64_t AutoGapUs(std::int64_t baud, int dataBits, bool parityBit, int stopBitHalves) {
    if (baud <= 0)
        return 1;
    // In half bits, so that 1.5 stop bits stay whole.
    const std::int64_t halfBits = 2 * (1 + dataBits + (parityBit ? 1 : 0)) + stopBitHalves;
    // 3.5 characters = 7 half characters; µs = 7 * halfBits / 2 half-bits-per-bit / 2 / baud.
    const std::int64_t us = (7 * halfBits * 1'000'000 + 4 * baud - 1) / (4 * baud);
    return std::max<std::int64_t>(us, 1);
}

Framer::Framer(FramingRule rule) : rule_(rule) {
    if (rule_.maxBytes == 0)
        rule_.maxBytes = kMaxMessageBytes;
}

void Framer::Add(const ReceivedBlock& block, std::vector<Message>& out) {
    if (block.bytes.empty())
        return;
    if (rule_.kind == FramingKind::PerArrival) {
        out.push_back({std::string(block.bytes), block.firstUs, block.lastUs});
        return;
    }
    const std::int64_t earliestUs =
        block.earliestUs != 0 ? std::min(block.earliestUs, block.firstUs) : block.firstUs;
    if (rule_.kind == FramingKind::Gap && Pending() &&
        earliestUs - pending_.lastUs >= rule_.gapUs)
        ClosePending(out);
    if (undecided_)
        NoteUndecided(block, earliestUs);
    added_ += block.bytes.size();
    lastEarliestUs_ = earliestUs;
    // A piece held back that the line left alone for its hold time stands as it came.
    if (!held_.empty() && !Pending() && earliestUs - held_.back().lastUs >= HoldUs())
        ReleaseHeld(out);
    std::size_t at = 0;
    while (at < block.bytes.size()) {
        std::size_t end = block.bytes.size();
        if (rule_.kind == FramingKind::EndByte) {
            const std::size_t found = block.bytes.find(static_cast<char>(rule_.endByte), at);
            if (found != std::string_view::npos)
                end = found + 1;
        }
        end = std::min(end, at + (rule_.maxBytes - pending_.bytes.size()));
        const std::int64_t first = at == 0 ? block.firstUs : block.lastUs;
        const std::int64_t last = end == 1 ? block.firstUs : block.lastUs;
        Take(block.bytes.substr(at, end - at), first, last);
        const bool endByteSeen = rule_.kind == FramingKind::EndByte &&
                                 static_cast<unsigned char>(block.bytes[end - 1]) == rule_.endByte;
        if (endByteSeen || pending_.bytes.size() >= rule_.maxBytes)
            ClosePending(out);
        at = end;
    }
}

void Framer::Take(std::string_view bytes, std::int64_t firstUs, std::int64_t lastUs) {
    if (pending_.bytes.empty())
        pending_.firstUs = firstUs;
    pending_.bytes.append(bytes);
    pending_.lastUs = lastUs;
}

void Framer::ClosePending(std::vector<Message>& out) {
    if (!Pending())
        return;
    Message message = std::move(pending_);
    pending_ = {};
    Finish(std::move(message), out);
}

void Framer::Close(std::vector<Message>& out) {
    ClosePending(out);
    ReleaseHeld(out);
}

void Framer::Poll(std::int64_t quietUs, std::vector<Message>& out) {
    if (rule_.kind == FramingKind::Gap && Pending() && quietUs - pending_.lastUs >= rule_.gapUs)
        ClosePending(out);
    if (!held_.empty() && !Pending() && quietUs - held_.back().lastUs >= HoldUs())
        ReleaseHeld(out);
}

void Framer::NoteUndecided(const ReceivedBlock& block, std::int64_t earliestUs) {
    if (rule_.kind != FramingKind::Gap)
        return;
    // Before the block: left whole, though its first byte may have come the
    // gap after the byte before.
    if (Pending() && block.firstUs - lastEarliestUs_ >= rule_.gapUs)
        undecided_(added_);
    // Within it: a read that may have taken longer than the gap to gather.
    if (block.lastUs - earliestUs >= rule_.gapUs) {
        for (std::size_t i = 1; i < block.bytes.size(); ++i) undecided_(added_ + i);
    }
}

std::optional<std::int64_t> Framer::DueUs() const {
    std::optional<std::int64_t> due;
    if (rule_.kind == FramingKind::Gap && Pending())
        due = pending_.lastUs + rule_.gapUs;
    else if (!held_.empty())
        due = held_.back().lastUs + HoldUs();
    return due;
}

std::int64_t Framer::HoldUs() const {
    if (rule_.holdUs > 0)
        return rule_.holdUs;
    return std::max(kMinHoldUs, 2 * rule_.gapUs);
}

void Framer::Finish(Message message, std::vector<Message>& out) {
    if (rule_.check == nullptr || rule_.kind == FramingKind::PerArrival) {
        out.push_back(std::move(message));
        return;
    }
    held_.push_back(std::move(message));
    for (std::size_t first = 0; first < held_.size(); ++first) {
        if (EmitFrames(first, out))
            return;
    }
    // Nothing holds the check yet: the pieces wait for the rest, within
    // bounds (a frame is no longer than a split is tried for).
    constexpr std::size_t kMaxHeldPieces = 8;
    const auto heldBytes = [this] {
        std::size_t bytes = 0;
        for (const Message& piece : held_) bytes += piece.bytes.size();
        return bytes;
    };
    while (!held_.empty() &&
           (held_.size() > kMaxHeldPieces || heldBytes() > fun::kMaxSplitBytes)) {
        out.push_back(std::move(held_.front()));
        held_.erase(held_.begin());
    }
}

bool Framer::EmitFrames(std::size_t first, std::vector<Message>& out) {
    std::string joined;
    for (std::size_t i = first; i < held_.size(); ++i) joined += held_[i].bytes;
    // Frames from the start of the pieces on; what follows the last of them
    // may be a frame cut short, which waits for the rest.
    const std::vector<std::size_t> frames = fun::LeadingFrames(
        *rule_.check,
        std::span(reinterpret_cast<const std::uint8_t*>(joined.data()), joined.size()));
    if (frames.empty())
        return false;
    for (std::size_t i = 0; i < first; ++i) out.push_back(std::move(held_[i]));
    // A frame's times are those of the pieces its first and last byte came
    // in: within a piece, its first byte has the piece's first time and every
    // later byte its last.
    std::size_t piece = first;
    std::size_t pieceStart = 0;
    const auto timeOf = [&](std::size_t offset) {
        while (offset >= pieceStart + held_[piece].bytes.size()) {
            pieceStart += held_[piece].bytes.size();
            ++piece;
        }
        return offset == pieceStart ? held_[piece].firstUs : held_[piece].lastUs;
    };
    std::size_t at = 0;
    for (const std::size_t length : frames) {
        Message frame;
        frame.bytes = joined.substr(at, length);
        frame.firstUs = timeOf(at);
        frame.lastUs = timeOf(at + length - 1);
        out.push_back(std::move(frame));
        at += length;
    }
    Message rest;
    if (at < joined.size()) {
        rest.bytes = joined.substr(at);
        rest.firstUs = timeOf(at);
        rest.lastUs = held_.back().lastUs;
    }
    held_.clear();
    if (!rest.bytes.empty())
        held_.push_back(std::move(rest));
    return true;
}

void Framer::ReleaseHeld(std::vector<Message>& out) {
    for (Message& piece : held_) out.push_back(std::move(piece));
    held_.clear();
}

std::vector<Message> FrameBlocks(const std::vector<ReceivedBlock>& blocks, const FramingRule& rule,
                                 bool closeLast) {
    Framer framer(rule);
    std::vector<Message> messages;
    for (const ReceivedBlock& block : blocks) framer.Add(block, messages);
    if (closeLast)
        framer.Close(messages);
    return messages;
}

}  // namespace tarvik::timeline
