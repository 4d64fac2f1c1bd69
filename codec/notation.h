#pragma once
// Turns text and hex dumps into the byte notation of the command line, so a
// user can paste what another tool shows and send exactly those bytes.
// Plain functions without state; any thread. No GUI.

#include <stdexcept>
#include <string_view>

#include "base/text.h"

namespace fun {

using tarvik::Text;

// An input the conversion cannot read. The message (UTF-8) names the
// character position, counted from 1 in the input as given.
class ENotationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The notation that encodes to exactly these bytes: printable ASCII in quoted
// runs ("AB C"), every other byte (the double quote, controls, 0x7F and above)
// as a 0xHH token; tokens separated by one space. Empty for no bytes.
Text BytesToNotation(std::string_view bytes);

// A line of text with the C escapes \r \n \t \\ \" and \xH or \xHH, as the
// notation of its bytes. Throws ENotationError for another escape or a
// backslash at the end.
Text TextToNotation(std::string_view text);

// A hex dump ("01 03 00 0A", "0103000A", "01:03:00:0A", "0x01,0x03") as the
// notation "0x01 0x03 0x00 0x0A". Groups of digit pairs may be separated by
// blanks, ":", "-", "," or ";" and may carry a "0x" or "0X" in front. Throws
// ENotationError for any other character or a group of an odd digit count.
Text HexToNotation(std::string_view hex);

}  // namespace fun
