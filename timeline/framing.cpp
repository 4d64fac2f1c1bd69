#include "timeline/framing.h"

#include <algorithm>

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
    if (rule_.kind == FramingKind::Gap && Pending() &&
        block.firstUs - pending_.lastUs >= rule_.gapUs)
        Close(out);
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
            Close(out);
        at = end;
    }
}

void Framer::Take(std::string_view bytes, std::int64_t firstUs, std::int64_t lastUs) {
    if (pending_.bytes.empty())
        pending_.firstUs = firstUs;
    pending_.bytes.append(bytes);
    pending_.lastUs = lastUs;
}

void Framer::Close(std::vector<Message>& out) {
    if (!Pending())
        return;
    out.push_back(std::move(pending_));
    pending_ = {};
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
