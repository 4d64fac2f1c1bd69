#include "codec/check_value.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "base/int_conversion.h"
#include "codec/check_frames.h"
#include "codec/notation.h"
#include "codec/received_check.h"

namespace fun {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

const TCheckValue& Check(std::string_view name) {
    const TCheckValue* check = FindCheckValue(name);
    if (check == nullptr)
        throw std::logic_error("no check value " + std::string(name));
    return *check;
}

// The catalogue's check value over "123456789", and the bytes on the line.
TEST(CheckValues, CatalogueCheckOfTheNineDigits) {
    struct Row {
        const char* name;
        std::uint32_t check;
        std::string line;
    } const rows[] = {
        {"SUM", 0xDD, "\xDD"},
        {"BCC", 0x31, "31"},
        {"LRC", 0x23, "\x23"},
        {"NMEA 0183", 0x31, "*31"},
        {"CRC-8/SMBUS", 0xF4, "\xF4"},
        {"CRC-8/MAXIM-DOW", 0xA1, "\xA1"},
        {"CRC-16/MODBUS", 0x4B37, "\x37\x4B"},
        {"CRC-16/IBM-3740", 0x29B1, "\x29\xB1"},
        {"CRC-16/XMODEM", 0x31C3, "\x31\xC3"},
        {"CRC-16/KERMIT", 0x2189, "\x89\x21"},
        {"CRC-32/ISO-HDLC", 0xCBF43926, "\x26\x39\xF4\xCB"},
    };
    ASSERT_EQ(std::size(rows), CheckValues().size());  // every row of the table is checked
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CheckValueOf(Check(row.name), Bytes("123456789")), row.check);
        EXPECT_EQ(CheckValueBytes(Check(row.name), Bytes("123456789")), row.line);
    }
}

// Frames of real protocols, as a command line and with the check value appended.
TEST(CheckValues, RealFrames) {
    struct Row {
        const char* name;
        std::string line;
        std::string appended;
    } const rows[] = {
        // Modbus RTU: read 10 holding registers from 0 of unit 1.
        {"CRC-16/MODBUS", "0x01 0x03 0x00 0x00 0x00 0x0A",
         "0x01 0x03 0x00 0x00 0x00 0x0A 0xC5 0xCD"},
        // The LRC a Modbus ASCII frame of the same request carries (there as the text F2).
        {"LRC", "0x01 0x03 0x00 0x00 0x00 0x0A", "0x01 0x03 0x00 0x00 0x00 0x0A 0xF2"},
        {"NMEA 0183", "\"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\"",
         "\"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,\" \"*47\""},
        {"BCC", "0x09 0x01 0x02 ", "0x09 0x01 0x02 \"0A\""},
        {"SUM", "", "0x00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Text once = AppendCheckValue(Check(row.name), row.line);
        EXPECT_EQ(once, row.appended);
        EXPECT_EQ(AppendCheckValue(Check(row.name), once), row.appended);  // replaced, not added
    }
    // An XMODEM block's data: its CRC goes high byte first after the 128 bytes.
    const std::string block = "Hello, XMODEM!\r\n" + std::string(112, '\x1A');
    EXPECT_EQ(CheckValueBytes(Check("CRC-16/XMODEM"), Bytes(block)), "\xAA\x9F");
    EXPECT_EQ(EncodeLine(AppendCheckValue(Check("CRC-16/XMODEM"), BytesToNotation(block))),
              block + "\xAA\x9F");
}

// A tail is replaced only when it is the value over what precedes it; every
// other token stays, and a line that does not encode is refused.
TEST(CheckValues, AppendKeepsWhatIsNoOwnTail) {
    const TCheckValue& modbus = Check("CRC-16/MODBUS");
    const Text frame = "0x01 0x03 0x00 0x00 0x00 0x0A 0xC5 0xCD";
    EXPECT_EQ(AppendCheckValue(modbus, frame + "  "), frame);
    // Wrong value, or the value of another check: a second value follows.
    EXPECT_EQ(AppendCheckValue(modbus, "0x01 0x02 0xC5 0xCD"), "0x01 0x02 0xC5 0xCD 0x32 0xDD");
    EXPECT_EQ(AppendCheckValue(Check("CRC-16/KERMIT"), frame).size(), frame.size() + 10);
    EXPECT_THROW(AppendCheckValue(modbus, "12ab"), tarvik::EConvertError);
    EXPECT_THROW(AppendCheckValue(modbus, "\"open"), ELineError);
    EXPECT_EQ(CheckValueCaption(modbus), "CRC-16/MODBUS (low byte first)");
    EXPECT_EQ(CheckValueCaption(Check("CRC-16/IBM-3740")),
              "CRC-16/IBM-3740 (CRC-16/CCITT-FALSE, high byte first)");
}

TEST(Notation, TextAndHexRoundTripEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(EncodeLine(BytesToNotation(all)), all);
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string hex{HexDigit(b >> 4), HexDigit(b & 0x0F)};
        EXPECT_EQ(EncodeLine(TextToNotation("\\x" + hex)), byte) << b;
        EXPECT_EQ(EncodeLine(HexToNotation(hex)), byte) << b;
        if (b != '\\') {
            EXPECT_EQ(EncodeLine(TextToNotation(byte + "a")), byte + "a") << b;
        }
    }
}

TEST(Notation, Conversions) {
    struct Row {
        bool hex;
        std::string input;
        std::string notation;  // or the error message
    } const rows[] = {
        {false, "AT\\r\\n", "\"AT\" 0x0D 0x0A"},
        {false, "say \"hi\"\\t\\\\", "\"say \" 0x22 \"hi\" 0x22 0x09 \"\\\""},
        {false, "\\x1\\x1Fz\\\"", "0x01 0x1F \"z\" 0x22"},
        {false, " a ", "\" a \""},
        {false, "", ""},
        {false, "ab\\q", "The escape \\q at position 3 is none of \\r \\n \\t \\\\ \\\" \\xHH"},
        {false, "ab\\", "The backslash at position 3 ends the text without an escape"},
        {false, "\\xg", "The escape \\x at position 1 has no hexadecimal digit"},
        {true, "01 03 00 0A", "0x01 0x03 0x00 0x0A"},
        {true, "0103000a", "0x01 0x03 0x00 0x0A"},
        {true, "01:03:00:0A", "0x01 0x03 0x00 0x0A"},
        {true, " 0x01,0XfF-10;\t", "0x01 0xFF 0x10"},
        {true, "01 0g", "The character \"g\" at position 5 is no hexadecimal digit"},
        {true, "01 103", "The group at position 4 has 3 hexadecimal digits; each byte needs two"},
        {true, "0x", "The group at position 1 has 0 hexadecimal digits; each byte needs two"},
        {true, "01 \xE9", "The character \"\xC3\xA9\" at position 4 is no hexadecimal digit"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        try {
            EXPECT_EQ(row.hex ? HexToNotation(row.input) : TextToNotation(row.input), row.notation);
        } catch (const ENotationError& error) {
            EXPECT_EQ(error.what(), row.notation);
        }
    }
}

// Framing by check value and the mark of a received line agree: a frame
// (bytes, then the value over them) is what the mark calls " ok", for every
// check value; a wrong last byte is neither; a frame and a piece cut short
// lead with the frame.
TEST(CheckFrames, AFrameIsWhatTheMarkCallsOk) {
    for (const TCheckValue& check : CheckValues()) {
        SCOPED_TRACE(std::string(check.name));
        const std::string body = "$GPTXT,01,01,02,ANTSTATUS=OK";
        const auto bytesOf = [](const std::string& text) {
            return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        };
        const std::string frame = body + CheckValueBytes(check, bytesOf(body));
        EXPECT_TRUE(IsFrame(check, bytesOf(frame)));
        EXPECT_EQ(tarvik::ReceivedCheckMark(check, frame), " ok");
        std::string wrong = frame;
        wrong.back() = static_cast<char>(wrong.back() ^ 0x01);
        EXPECT_FALSE(IsFrame(check, bytesOf(wrong)));
        EXPECT_NE(tarvik::ReceivedCheckMark(check, wrong), " ok");
        EXPECT_EQ(LeadingFrames(check, bytesOf(frame + "$GP")),
                  std::vector<std::size_t>{frame.size()});
    }
}

}  // namespace
}  // namespace fun
