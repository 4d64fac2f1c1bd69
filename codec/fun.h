#pragma once
// The byte notation of the command line ("0x01 0x1 123 \"A3\"") and what is
// computed over it: the tokenizer, the encoder, the SUM/BCC check values and
// the display form of received bytes.
//
// The tokenizer and the encoder work over module-wide state (the token table
// and the byte buffer), which callers read after TokensToBytes. Main thread
// only: nothing here is locked. No GUI: ShowMsg goes through base's box hook.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/text.h"

namespace fun {

using tarvik::Text;

inline constexpr int kTableSize = 256;

extern std::array<Text, kTableSize> TokenTable;  // tokens of the last line, in order
extern std::int32_t TokenCount;                  // valid entries of TokenTable
extern std::array<std::uint8_t, kTableSize> ByteBuf;  // the encoded bytes
extern std::int32_t ByteLen;                          // valid bytes of ByteBuf

// A line the table or the buffer cannot hold, or a quote that never closes.
// The whole line is refused: sending a cut or half-parsed frame would corrupt
// the device's data. Raised like a conversion error, so callers stop the same way.
class ELineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits the line into TokenTable, sets TokenCount and returns it.
// Throws ELineError (TokenCount 0) for an unclosed quote or more than 256 tokens.
int StrToTokens(Text line);

// Encodes the first TokenCount tokens into ByteBuf and sets ByteLen.
// Returns false at a token of no known form; throws tarvik::EConvertError for a
// number it cannot read and ELineError past 256 bytes (ByteLen then counts the
// bytes stored before, TokenCount keeps its value). TokenCount is 0 after a
// complete encoding.
bool TokensToBytes();

bool IsDigit(char c);     // '0'..'9'
bool IsHexDigit(char c);  // '0'..'9', 'A'..'F', 'a'..'f'
bool IsLetter(char c);    // 'A'..'Z', 'a'..'z'

// Returns the first n characters of text (all of it when shorter) and removes them from it.
Text CutLeft(Text& text, int n);

std::uint8_t CalcSum(const std::uint8_t* bytes, int count);  // 8-bit sum; 0 for count <= 0
Text CalcBcc(const std::uint8_t* bytes, int count);  // XOR as two upper-case hex digit chars
char HexDigit(int value);  // 0..9 -> '0'..'9', otherwise code 55 + value

// One display line for a received block: "0xHH " per byte, or " c " for a letter or
// digit when ascii is set; leading and trailing codes 0..32 trimmed.
Text BytesToDisplay(std::string_view received, bool ascii);

// The text form of a received block, for text protocols (NMEA, AT commands,
// a board's log): printable ASCII 0x20..0x7E as itself, CR, LF and TAB as
// \r \n \t, every other byte as \xHH (upper-case digits). Nothing trimmed.
Text BytesToText(std::string_view received);

// The codec's own message box: the text, caption "Syntax error", information icon,
// no owner. Returns when it has been closed.
void ShowMsg(const std::string& message);

}  // namespace fun
