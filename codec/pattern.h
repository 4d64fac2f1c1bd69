#pragma once
// What an expect or a receive rule waits for: bytes in the command line's notation, with "??"
// for any one byte, optionally followed by a check value over the bytes
// before it. Main thread (parsing encodes through the codec's module state).

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "codec/check_value.h"

namespace tarvik::runner {

// A pattern or a check value name the runner cannot use; the message says why.
class EPattern : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Pattern {
    std::string text;                         // as the script gave it
    std::string bytes;                        // the bytes expected; any value where `any` is set
    std::vector<bool> any;                    // one per byte: "??"
    const fun::TCheckValue* check = nullptr;  // verified after the bytes, or none
    std::size_t checkBytes = 0;               // the check value's length on the line

    std::size_t Size() const { return bytes.size() + checkBytes; }
};

// Parses the notation with "??" (outside quotes) for any byte. Unlike a
// command line, where the window skips stray characters, a pattern is refused
// when anything but tokens and blanks is in it, or when it expects nothing:
// such a pattern would quietly match bytes it was never meant to. Throws
// EPattern, naming the pattern and the reason.
Pattern ParsePattern(std::string_view text);

// The check value of that name (a catalogue name or its alias, in any case), for a pattern
// or a send. Throws EPattern for an unknown name.
const fun::TCheckValue& CheckValueNamed(std::string_view name);

// Adds the check value to the pattern: its bytes follow the pattern's.
void AddCheck(Pattern& pattern, const fun::TCheckValue& check);

enum class MatchState { Partial, Matched, Mismatch };

struct MatchResult {
    MatchState state = MatchState::Partial;
    std::size_t at = 0;  // Mismatch: the offset of the first wrong byte
    std::string reason;  // Mismatch: what was wrong
};

// Judges the received bytes against the pattern from their start: Matched
// once Size() bytes agree, Mismatch at the first byte that cannot agree,
// Partial while the bytes so far agree.
MatchResult Match(const Pattern& pattern, std::string_view received);

}  // namespace tarvik::runner
