#include "codec/check_frames.h"

#include <algorithm>
#include <string>

namespace fun {

namespace {

bool IsLineEnd(std::uint8_t byte) {
    return byte == '\r' || byte == '\n';
}

// The value as it is on the line, compared with the bytes at `at`.
bool ValueAt(const TCheckValue& check, std::uint32_t value, std::span<const std::uint8_t> bytes,
             std::size_t at) {
    const std::string expected = [&] {
        if (check.kind == TCheckKind::Bcc || check.kind == TCheckKind::NmeaXor) {
            const char hex[] = {HexDigit((value >> 4) & 0x0F), HexDigit(value & 0x0F)};
            return (check.kind == TCheckKind::NmeaXor ? std::string("*") : std::string()) +
                   std::string(hex, 2);
        }
        const int count = check.kind == TCheckKind::Crc ? check.crc.width / 8 : 1;
        std::string out;
        for (int i = 0; i < count; ++i) {
            const int shift = 8 * (check.order == TByteOrder::LowFirst ? i : count - 1 - i);
            out += static_cast<char>((value >> shift) & 0xFF);
        }
        return out;
    }();
    if (at + expected.size() > bytes.size())
        return false;
    return std::equal(expected.begin(), expected.end(), bytes.begin() + std::ptrdiff_t(at),
                      [](char want, std::uint8_t got) { return std::uint8_t(want) == got; });
}

}  // namespace

std::vector<std::size_t> FrameLengths(const TCheckValue& check,
                                      std::span<const std::uint8_t> bytes) {
    std::vector<std::size_t> lengths;
    const std::size_t valueLength = CheckValueBytes(check, {}).size();
    // The value over the first `head` bytes, kept up as `head` grows.
    TCrcRun crc(check.crc);
    std::uint32_t running = 0;  // sum or XOR
    bool afterDollar = false;
    std::size_t added = 0;
    const auto valueOfHead = [&](std::size_t head) {
        for (; added < head; ++added) {
            const std::uint8_t byte = bytes[added];
            switch (check.kind) {
                case TCheckKind::Crc:
                    crc.Add(byte);
                    break;
                case TCheckKind::Sum:
                case TCheckKind::Lrc:
                    running = (running + byte) & 0xFF;
                    break;
                case TCheckKind::Bcc:
                    running ^= byte;
                    break;
                case TCheckKind::NmeaXor:
                    // The XOR of what follows the first "$"; without one, of all.
                    if (byte == '$' && !afterDollar) {
                        afterDollar = true;
                        running = 0;
                    } else {
                        running ^= byte;
                    }
                    break;
            }
        }
        switch (check.kind) {
            case TCheckKind::Crc:
                return crc.Value();
            case TCheckKind::Lrc:
                return (0x100 - running) & 0xFF;
            default:
                return running;
        }
    };
    for (std::size_t end = valueLength + 1; end <= bytes.size(); ++end) {
        std::size_t valueEnd = end;
        if (check.kind == TCheckKind::NmeaXor) {
            while (valueEnd > 0 && IsLineEnd(bytes[valueEnd - 1])) --valueEnd;
            if (valueEnd < valueLength + 1)
                continue;
        }
        const std::size_t head = valueEnd - valueLength;
        if (ValueAt(check, valueOfHead(head), bytes, head))
            lengths.push_back(end);
    }
    return lengths;
}

bool IsFrame(const TCheckValue& check, std::span<const std::uint8_t> bytes) {
    const std::vector<std::size_t> lengths = FrameLengths(check, bytes);
    return !lengths.empty() && lengths.back() == bytes.size();
}

std::vector<std::size_t> LeadingFrames(const TCheckValue& check,
                                       std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    if (n == 0 || n > kMaxSplitBytes)
        return {};
    // Forward over the places a frame can start: only ends of frames are
    // starts, so a bad run is given up after few tries.
    constexpr std::size_t kNone = SIZE_MAX;
    std::vector<std::size_t> pieces(n + 1, kNone);
    std::vector<std::size_t> from(n + 1, kNone);
    pieces[0] = 0;
    std::size_t reached = 0;
    for (std::size_t start = 0; start < n; ++start) {
        if (pieces[start] == kNone)
            continue;
        for (const std::size_t length : FrameLengths(check, bytes.subspan(start))) {
            const std::size_t end = start + length;
            const std::size_t count = pieces[start] + 1;
            if (count < pieces[end] || (count == pieces[end] && start > from[end])) {
                pieces[end] = count;
                from[end] = start;
            }
            reached = std::max(reached, end);
        }
    }
    std::vector<std::size_t> lengths;
    for (std::size_t end = reached; end > 0; end = from[end]) lengths.push_back(end - from[end]);
    std::reverse(lengths.begin(), lengths.end());
    return lengths;
}

std::vector<std::size_t> SplitIntoFrames(const TCheckValue& check,
                                         std::span<const std::uint8_t> bytes) {
    std::vector<std::size_t> lengths = LeadingFrames(check, bytes);
    std::size_t total = 0;
    for (const std::size_t length : lengths) total += length;
    if (total != bytes.size())
        lengths.clear();
    return lengths;
}

}  // namespace fun
