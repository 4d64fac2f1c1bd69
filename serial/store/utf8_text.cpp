#include "serial/store/utf8_text.h"

namespace cport {

namespace {

// Length of the UTF-8 sequence starting at text[at] and its code point; 0
// when no well-formed sequence starts there.
std::size_t SequenceAt(std::string_view text, std::size_t at, char32_t* codePoint) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    char32_t ignored;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = SequenceAt(text, at, &ignored);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::optional<tarvik::Text> Utf8ToLatin1(std::string_view utf8) {
    tarvik::Text out;
    out.reserve(utf8.size());
    char32_t codePoint = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t length = SequenceAt(utf8, at, &codePoint);
        if (length == 0 || codePoint > 0xFF)
            return std::nullopt;
        out.push_back(static_cast<char>(codePoint));
        at += length;
    }
    return out;
}

}  // namespace cport
