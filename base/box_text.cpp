#include "base/box_text.h"

namespace tarvik {

namespace {

bool Continues(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t Characters(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) count += Continues(c) ? 0 : 1;
    return count;
}

// The byte length of the first `count` characters of the text (all of it
// when it has fewer).
std::size_t BytesOf(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (!Continues(text[at]) && seen++ == count)
            break;
    }
    return at;
}

std::string Omitted(std::size_t characters) {
    return "\xE2\x80\xA6 (" + std::to_string(characters) + " characters)";
}

}  // namespace

BoxText FitToScreen(std::string_view text, const BoxTextLimits& limits) {
    BoxText box;
    std::size_t lines = 0;
    std::size_t characters = 0;
    std::size_t at = 0;
    bool cut = false;
    while (at < text.size()) {
        if (lines == limits.lines || characters >= limits.characters) {
            cut = true;
            break;
        }
        const std::size_t lineEnd = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, lineEnd - at);
        const std::size_t room = std::min(limits.columns, limits.characters - characters);
        std::size_t piece = BytesOf(line, room);
        std::size_t next = piece;
        if (piece < line.size()) {
            // A line longer than a shown line goes on in the next one, broken
            // after its last word that fits, or within a word longer than a line.
            const std::size_t space = line.substr(0, piece + 1).rfind(' ');
            if (space != std::string_view::npos && space > 0)
                piece = space, next = space + 1;
        }
        if (lines > 0)
            box.shown += '\n';
        box.shown.append(line.substr(0, piece));
        characters += Characters(line.substr(0, next));
        ++lines;
        at = next < line.size() ? at + next : lineEnd + 1;
    }
    if (!cut)
        return box;
    const std::size_t total = Characters(text);
    box.shown += '\n' + Omitted(total);
    const std::size_t detailBytes = BytesOf(text, limits.details);
    box.details.assign(text.substr(0, detailBytes));
    if (detailBytes < text.size())
        box.details += '\n' + Omitted(total);
    return box;
}

}  // namespace tarvik
