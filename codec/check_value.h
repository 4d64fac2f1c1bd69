#pragma once
// Check values a command line can end with: the SUM and BCC of the frame
// buttons, the CRCs that serial protocols use, named as the public catalogue
// of parametrised CRC algorithms names them, the LRC of Modbus ASCII and the
// XOR of an NMEA 0183 sentence. One table holds them all; the CRCs share one
// engine driven by the catalogue's parameters, so a further CRC is one row.
//
// Everything here is a plain function of its arguments, except that the
// functions over command lines encode through StrToTokens and TokensToBytes:
// like them they are main thread only and leave the codec's module state as
// an encoding does. No GUI.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "codec/fun.h"

namespace fun {

// A CRC as the catalogue gives it: width in bits (8 to 32), the polynomial
// without its top bit, the initial register, whether input bytes and the
// final register are reflected, and the value XORed into the result.
struct TCrcModel {
    int width;
    std::uint32_t poly;
    std::uint32_t init;
    bool refin;
    bool refout;
    std::uint32_t xorout;
};

std::uint32_t Crc(const TCrcModel& model, std::span<const std::uint8_t> bytes);

// The same CRC a byte at a time: Value() after each Add is the CRC of the
// bytes added so far.
class TCrcRun {
  public:
    explicit TCrcRun(const TCrcModel& model);
    void Add(std::uint8_t byte);
    std::uint32_t Value() const;

  private:
    TCrcModel model_;
    std::uint32_t mask_;
    std::uint32_t poly_;
    std::uint32_t register_;
};

enum class TCheckKind {
    Sum,      // 8-bit sum, one byte (SUM)
    Bcc,      // 8-bit XOR as two upper-case hex digit characters (BCC)
    Lrc,      // two's complement of the 8-bit sum, one byte
    NmeaXor,  // XOR of the bytes after the first "$" (all bytes without one), written "*hh"
    Crc,      // the model's register, width / 8 bytes
};

// The order of a value's bytes on the line. Reflected CRCs go low byte first
// (Modbus RTU, Kermit, HDLC), the others high byte first (XMODEM).
enum class TByteOrder { LowFirst, HighFirst };

struct TCheckValue {
    std::string_view name;   // the catalogue's name, e.g. "CRC-16/MODBUS"
    std::string_view alias;  // a better-known name, or empty
    TCheckKind kind;
    TCrcModel crc;     // kind Crc only
    TByteOrder order;  // values of more than one byte
};

// Every check value, in the order a menu lists them. Static storage.
std::span<const TCheckValue> CheckValues();
// The row of that catalogue name or alias, in any case, or null.
const TCheckValue* FindCheckValue(std::string_view name);

// The value over the bytes: a byte, a 16- or 32-bit register, the XOR for Bcc and NmeaXor.
std::uint32_t CheckValueOf(const TCheckValue& check, std::span<const std::uint8_t> bytes);
// The bytes the value adds to the line, in its byte order or as its text ("0A", "*48").
std::string CheckValueBytes(const TCheckValue& check, std::span<const std::uint8_t> bytes);
// The same as tokens of the notation: "0xCD 0xC5", or a quoted "\"*48\"".
Text CheckValueTokens(const TCheckValue& check, std::span<const std::uint8_t> bytes);
// "CRC-16/MODBUS (low byte first)" and the like, for a menu.
std::string CheckValueCaption(const TCheckValue& check);

// The bytes a line encodes to, as Send would write them. Throws what
// StrToTokens and TokensToBytes throw.
std::string EncodeLine(const Text& line);

// Whether the line, its trailing blanks aside, ends in the tail that
// `tailFor(head, headBytes)` gives for the text before it, and the whole line
// encodes to the head's bytes followed by the tail's: then the tail is a check
// value written over the head and no byte the user typed. A head that does
// not encode has no check value. Returns the head's length, or npos.
using TTailFor = std::function<Text(const Text& head, const std::string& headBytes)>;
std::size_t HeadBeforeTail(const Text& line, std::size_t tailLength, const TTailFor& tailFor);

// The line followed by the check value's tokens over the line's bytes. When
// the line already ends in that check value over what precedes it (this
// function's own result), the old value is replaced instead of a second one
// added. Throws what EncodeLine throws, and leaves the line to the caller as it was.
Text AppendCheckValue(const TCheckValue& check, const Text& line);

}  // namespace fun
