#include "codec/pattern.h"

#include <algorithm>
#include <cstdio>

#include "codec/notation.h"

namespace tarvik::runner {

namespace {

[[noreturn]] void Refuse(std::string_view text, const std::string& reason) {
    throw EPattern("Pattern '" + std::string(text) + "': " + reason);
}

// Tokens of a segment, checked to be the whole of it but blanks.
std::string EncodeSegment(std::string_view pattern, std::string_view segment) {
    std::string bytes;
    try {
        bytes = fun::EncodeLine(Text(segment));
    } catch (const std::exception& error) {
        Refuse(pattern, error.what());
    }
    // The tokenizer skips what is no token; a pattern may hold only tokens
    // (the tokenizer's own rules for where each ends) and blanks.
    for (std::size_t pos = 0; pos < segment.size();) {
        const char c = segment[pos];
        if (static_cast<unsigned char>(c) <= 32) {
            ++pos;
        } else if (c == '"') {
            const std::size_t close = segment.find('"', pos + 1);
            pos = close == std::string_view::npos ? segment.size() : close + 1;
        } else if (segment.substr(pos, 2) == "0x") {
            pos += pos + 3 < segment.size() && fun::IsHexDigit(segment[pos + 3]) ? 4 : 3;
        } else if (fun::IsDigit(c)) {
            pos = std::min(segment.find(' ', pos), segment.size());
        } else {
            std::string reason = "'";
            reason += c;
            reason += "' is not in the notation";
            Refuse(pattern, reason);
        }
    }
    return bytes;
}

std::string Hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// "0x4F 0x4B"
std::string HexBytes(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += Hex(static_cast<unsigned char>(c));
    }
    return text;
}

}  // namespace

Pattern ParsePattern(std::string_view text) {
    Pattern pattern;
    pattern.text = text;
    std::size_t start = 0;
    bool quoted = false;
    const auto take = [&](std::size_t end) {
        const std::string bytes = EncodeSegment(text, text.substr(start, end - start));
        pattern.bytes += bytes;
        pattern.any.insert(pattern.any.end(), bytes.size(), false);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && text.substr(i, 2) == "??") {
            take(i);
            pattern.bytes += '\0';
            pattern.any.push_back(true);
            start = i + 2;
            ++i;
        }
    }
    take(text.size());
    if (pattern.bytes.empty())
        Refuse(text, "it expects no byte");
    return pattern;
}

const fun::TCheckValue& CheckValueNamed(std::string_view name) {
    if (const fun::TCheckValue* check = fun::FindCheckValue(name))
        return *check;
    std::string known;
    for (const fun::TCheckValue& check : fun::CheckValues())
        known += (known.empty() ? "" : ", ") + std::string(check.name);
    throw EPattern("No check value is named '" + std::string(name) + "' (known: " + known + ")");
}

void AddCheck(Pattern& pattern, const fun::TCheckValue& check) {
    pattern.check = &check;
    pattern.checkBytes = fun::CheckValueBytes(check, {}).size();
}

MatchResult Match(const Pattern& pattern, std::string_view received) {
    const std::size_t body = pattern.bytes.size();
    for (std::size_t i = 0; i < std::min(body, received.size()); ++i) {
        if (!pattern.any[i] && received[i] != pattern.bytes[i])
            return {MatchState::Mismatch, i,
                    "byte " + std::to_string(i + 1) + " is " +
                        Hex(static_cast<unsigned char>(received[i])) + ", not " +
                        Hex(static_cast<unsigned char>(pattern.bytes[i]))};
    }
    if (received.size() < pattern.Size())
        return {};
    if (pattern.check != nullptr) {
        const auto* head = reinterpret_cast<const std::uint8_t*>(received.data());
        const std::string want = fun::CheckValueBytes(*pattern.check, {head, body});
        const std::string_view got = received.substr(body, pattern.checkBytes);
        if (got != want) {
            // What arrived first, then what the bytes before it call for.
            std::string reason(pattern.check->name);
            reason += ": received ";
            reason += HexBytes(got);
            reason += ", expected ";
            reason += HexBytes(want);
            return {MatchState::Mismatch, body, reason};
        }
    }
    return {MatchState::Matched, 0, {}};
}

}  // namespace tarvik::runner
