#include "base/terminal_text.h"

namespace tarvik {

namespace {

void Escape(unsigned char byte, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

// The length of the valid UTF-8 sequence at the text's start, 0 when there is none.
std::size_t SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto follows = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF)
        return follows(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!follows(1) || !follows(2))
            return 0;
        // No overlong forms, no surrogates.
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F))
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!follows(1) || !follows(2) || !follows(3))
            return 0;
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

}  // namespace

std::string ForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendForTerminal(text, out);
    return out;
}

void AppendForTerminal(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size();) {
        // Runs of plain ASCII, nearly all of a transcript, go in whole.
        std::size_t plain = i;
        while (plain < text.size() && static_cast<unsigned char>(text[plain]) >= 0x20 &&
               static_cast<unsigned char>(text[plain]) < 0x7F)
            ++plain;
        out.append(text.data() + i, plain - i);
        i = plain;
        if (i == text.size())
            break;
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte >= 0x80 ? SequenceLength(text.substr(i)) : 0;
        // U+0080..U+009F are the C1 controls (CSI among them), in UTF-8 as well.
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1) {
            const std::size_t end = c1 ? i + 2 : i + 1;
            for (; i < end; ++i) Escape(static_cast<unsigned char>(text[i]), out);
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
}

}  // namespace tarvik
