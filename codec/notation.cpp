#include "codec/notation.h"

#include <string>

#include "codec/fun.h"

namespace fun {

namespace {

// A byte that a quoted run carries as itself. The double quote would end the
// run; controls would break the line in list files and hide in the line edit;
// bytes above 0x7E read more plainly as 0xHH.
bool Quotable(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E && byte != '"';
}

std::string Position(std::size_t index) {
    return std::to_string(index + 1);
}

// The character as a message shows it: Latin-1 widened to UTF-8.
std::string Shown(char c) {
    return "\"" + tarvik::Latin1ToUtf8(std::string_view(&c, 1)) + "\"";
}

int HexValue(char c) {
    if (IsDigit(c))
        return c - '0';
    return (c & ~0x20) - 'A' + 10;  // IsHexDigit holds
}

}  // namespace

Text BytesToNotation(std::string_view bytes) {
    Text notation;
    bool inRun = false;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (Quotable(byte)) {
            if (!inRun)
                notation += notation.empty() ? "\"" : " \"";
            notation += c;
            inRun = true;
            continue;
        }
        if (inRun)
            notation += '"';
        inRun = false;
        if (!notation.empty())
            notation += ' ';
        notation += "0x";
        notation += HexDigit(byte >> 4);
        notation += HexDigit(byte & 0x0F);
    }
    if (inRun)
        notation += '"';
    return notation;
}

Text TextToNotation(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 == text.size())
            throw ENotationError("The backslash at position " + Position(i) +
                                 " ends the text without an escape");
        const char escape = text[++i];
        switch (escape) {
            case 'r':
                bytes += '\r';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 't':
                bytes += '\t';
                break;
            case '\\':
                bytes += '\\';
                break;
            case '"':
                bytes += '"';
                break;
            case 'x': {
                int value = 0;
                int digits = 0;
                while (digits < 2 && i + 1 < text.size() && IsHexDigit(text[i + 1])) {
                    value = value * 16 + HexValue(text[++i]);
                    ++digits;
                }
                if (digits == 0)
                    throw ENotationError("The escape \\x at position " + Position(i - 1) +
                                         " has no hexadecimal digit");
                bytes += static_cast<char>(value);
                break;
            }
            default:
                throw ENotationError("The escape \\" + tarvik::Latin1ToUtf8({&escape, 1}) +
                                     " at position " + Position(i - 1) +
                                     " is none of \\r \\n \\t \\\\ \\\" \\xHH");
        }
    }
    return BytesToNotation(bytes);
}

Text HexToNotation(std::string_view hex) {
    const auto separator = [](char c) {
        return static_cast<unsigned char>(c) <= 32 || c == ':' || c == '-' || c == ',' || c == ';';
    };
    std::string bytes;
    std::size_t i = 0;
    while (i < hex.size()) {
        if (separator(hex[i])) {
            ++i;
            continue;
        }
        const std::size_t group = i;
        if (hex[i] == '0' && i + 1 < hex.size() && (hex[i + 1] == 'x' || hex[i + 1] == 'X'))
            i += 2;
        const std::size_t digits = i;
        for (; i < hex.size() && !separator(hex[i]); ++i) {
            if (!IsHexDigit(hex[i]))
                throw ENotationError("The character " + Shown(hex[i]) + " at position " +
                                     Position(i) + " is no hexadecimal digit");
        }
        if (i == digits || (i - digits) % 2 != 0)
            throw ENotationError("The group at position " + Position(group) + " has " +
                                 std::to_string(i - digits) +
                                 " hexadecimal digits; each byte needs two");
        for (std::size_t k = digits; k < i; k += 2)
            bytes += static_cast<char>(HexValue(hex[k]) * 16 + HexValue(hex[k + 1]));
    }
    Text notation;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!notation.empty())
            notation += ' ';
        notation += {'0', 'x', HexDigit(byte >> 4), HexDigit(byte & 0x0F)};
    }
    return notation;
}

}  // namespace fun
