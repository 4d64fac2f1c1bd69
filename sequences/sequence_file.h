#pragma once
// The sequence set's file (docs/sequences.md): sections "[send NAME]" and
// "[rule NAME]", each followed by "key = value" lines; "#" starts a comment
// line. Parsing checks everything a face would use later (every line
// encodes, every pattern parses, every check value and answer exists), so a
// set that loads is a set that runs. Main thread (encoding uses the codec's
// module state).

#include <stdexcept>
#include <string>
#include <string_view>

#include "sequences/sequence_set.h"

namespace tarvik::sequences {

// A file that cannot be read, written or understood: "file:line: reason".
class ESequenceFile : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The set in `text`; `fileName` only names the place in errors. Throws
// ESequenceFile at the first fault: nothing of a bad file is kept.
SequenceSet ParseSequenceSet(std::string_view text, const std::string& fileName);

// The file's text for the set: every value written, in a fixed order, so
// that a set saved and loaded again is equal and two saves diff cleanly.
std::string FormatSequenceSet(const SequenceSet& set);

// Reads and parses the file; ESequenceFile when it cannot be read or is bad.
SequenceSet LoadSequenceSet(const std::string& fileName);

// Writes the set whole or not at all (a temporary file renamed over the
// old one); ESequenceFile when it cannot.
void SaveSequenceSet(const std::string& fileName, const SequenceSet& set);

}  // namespace tarvik::sequences
