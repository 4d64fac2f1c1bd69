#pragma once
// A sequence set: named send sequences (a line in the command line's
// notation, an optional check value appended, an optional function key,
// a repeat count) and receive rules (a pattern with "??", an optional check
// value that must verify, and what to do on a match). Plain values; the
// file form is in sequence_file.h. Main thread where it encodes (the codec's
// module state).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::sequences {

struct SendSequence {
    std::string name;
    std::string line;    // in the notation, as written
    std::string check;   // a check value's name appended over the line's bytes; "" none
    int key = 0;         // 1..12 for F1..F12; 0 none
    bool shift = false;  // the key is taken with Shift
    int repeat = 1;      // times sent per press (>= 1)
    int intervalMs = 0;  // between the repeats

    bool operator==(const SendSequence&) const = default;
};

struct ReceiveRule {
    std::string name;
    std::string pattern;     // the notation with "??" for any byte
    std::string check;       // a check value that must verify after the pattern's bytes; "" none
    std::string answer;      // a send sequence's name; "" none
    int delayMs = 0;         // before the answer
    bool mark = false;       // the received line ends with the rule's name
    bool count = false;      // the match is counted on the page
    bool stopTimer = false;  // the repeat timer stops
    bool enabled = true;

    bool operator==(const ReceiveRule&) const = default;
};

struct SequenceSet {
    std::vector<SendSequence> sends;
    std::vector<ReceiveRule> rules;

    bool Empty() const { return sends.empty() && rules.empty(); }
    // Null when no send sequence has that name.
    const SendSequence* FindSend(std::string_view name) const;
    bool operator==(const SequenceSet&) const = default;
};

// The bytes a send sequence sends once: its line encoded, its check value
// appended. Throws what the codec throws for a bad line, tarvik::runner::EPattern
// for an unknown check value.
std::string EncodeSend(const SendSequence& send);

// "F5", "Shift+F12"; "" without a key.
std::string KeyName(int key, bool shift);
// The key of such a name (any case); false for anything else.
bool ParseKeyName(std::string_view text, int& key, bool& shift);

}  // namespace tarvik::sequences
