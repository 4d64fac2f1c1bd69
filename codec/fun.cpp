#include "codec/fun.h"

#include "base/int_conversion.h"
#include "base/message_box.h"

namespace fun {

std::array<Text, kTableSize> TokenTable;
std::int32_t TokenCount = 0;
std::array<std::uint8_t, kTableSize> ByteBuf{};
std::int32_t ByteLen = 0;

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

Text TrimControls(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlankOrControl(text[first])) ++first;
    while (last > first && IsBlankOrControl(text[last - 1])) --last;
    return Text(text.substr(first, last - first));
}

void StoreToken(Text token, int& count) {
    if (count >= kTableSize) {
        TokenCount = 0;
        throw ELineError("The command line has more than 256 tokens");
    }
    TokenTable[count++] = std::move(token);
}

void StoreByte(std::uint8_t byte) {
    if (ByteLen >= kTableSize) throw ELineError("The command line encodes to more than 256 bytes");
    ByteBuf[ByteLen++] = byte;
}

}  // namespace

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

Text CutLeft(Text& text, int n) {
    const std::size_t take = n <= 0 ? 0 : std::min<std::size_t>(n, text.size());
    Text head = text.substr(0, take);
    text.erase(0, take);
    return head;
}

int StrToTokens(Text line) {
    // Positions in messages count in the line as typed, before the trim.
    std::size_t lead = 0;
    while (lead < line.size() && IsBlankOrControl(line[lead])) ++lead;
    line = TrimControls(line);
    if (line.empty()) {
        TokenCount = 0;
        return 0;
    }
    line += ' ';  // ends the last decimal token

    // The line is walked by position, never shortened from the front: a
    // megabyte of skipped characters would otherwise move the rest each time.
    int count = 0;
    std::size_t at = 0;
    const auto take = [&](std::size_t length) {
        StoreToken(line.substr(at, length), count);
        at += length;
    };
    while (at < line.size()) {
        const std::string_view rest = std::string_view(line).substr(at);
        if (rest.starts_with("0x")) {
            take(rest.size() >= 4 && IsHexDigit(rest[3]) ? 4 : 3);
        } else if (rest[0] == '"') {
            const std::size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                TokenCount = 0;
                throw ELineError("The double quote at position " + std::to_string(lead + at + 1) +
                                 " of the command line is not closed");
            }
            take(close + 1);
        } else if (IsDigit(rest[0])) {
            take(rest.find(' '));
        } else {
            ++at;
        }
    }
    TokenCount = count;
    return count;
}

bool TokensToBytes() {
    ByteLen = 0;
    for (int i = 0; i < TokenCount; ++i) {
        const Text& token = TokenTable[i];
        if (token.starts_with("0x")) {
            StoreByte(static_cast<std::uint8_t>(tarvik::StrToInt(Text("$").append(token, 2))));
        } else if (token.size() >= 2 && token[0] == '"') {
            for (std::size_t k = 1; k + 1 < token.size(); ++k) {
                StoreByte(static_cast<std::uint8_t>(token[k]));
            }
        } else if (!token.empty() && IsDigit(token[0])) {
            StoreByte(static_cast<std::uint8_t>(tarvik::StrToInt(token)));
        } else {
            return false;
        }
    }
    TokenCount = 0;
    return true;
}

std::uint8_t CalcSum(const std::uint8_t* bytes, int count) {
    std::uint8_t sum = 0;
    for (int i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return sum;
}

char HexDigit(int value) { return static_cast<char>(value <= 9 ? 48 + value : 55 + value); }

Text CalcBcc(const std::uint8_t* bytes, int count) {
    std::uint8_t bcc = 0;
    for (int i = 0; i < count; ++i) bcc ^= bytes[i];
    return {HexDigit(bcc >> 4), HexDigit(bcc & 0x0F)};
}

Text BytesToDisplay(std::string_view received, bool ascii) {
    Text line;
    line.reserve(received.size() * 5);
    for (char c : received) {
        if (ascii && (IsLetter(c) || IsDigit(c))) {
            line += ' ';
            line += c;
            line += ' ';
        } else {
            const auto byte = static_cast<unsigned char>(c);
            line += "0x";
            line += HexDigit(byte >> 4);
            line += HexDigit(byte & 0x0F);
            line += ' ';
        }
    }
    return TrimControls(line);
}

Text BytesToText(std::string_view received) {
    Text line;
    line.reserve(received.size());
    for (char c : received) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E) {
            line += c;
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else {
            line += "\\x";
            line += HexDigit(byte >> 4);
            line += HexDigit(byte & 0x0F);
        }
    }
    return line;
}

void ShowMsg(const std::string& message) {
    tarvik::ShowMessageBox({.text = message,
                            .caption = "Syntax error",
                            .icon = tarvik::MessageIcon::Information,
                            .hasOwner = false});
}

}  // namespace fun
