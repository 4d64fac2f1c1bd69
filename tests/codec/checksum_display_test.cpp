#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "codec/fun.h"

namespace fun {
namespace {

std::uint8_t Sum(std::vector<std::uint8_t> bytes) {
    return CalcSum(bytes.data(), static_cast<int>(bytes.size()));
}
std::string Bcc(std::vector<std::uint8_t> bytes) {
    return CalcBcc(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(CheckValues, SumWrapsAndBccIsTwoHexDigits) {
    EXPECT_EQ(Sum({0x33, 0x01, 0x02}), 0x36);
    EXPECT_EQ(Sum({0xFF, 0x02}), 0x01);
    EXPECT_EQ(Sum({}), 0x00);
    EXPECT_EQ(CalcSum(nullptr, -3), 0x00);
    EXPECT_EQ(Bcc({0x09, 0x01, 0x02}), "0A");
    EXPECT_EQ(Bcc({0xF0}), "F0");
    EXPECT_EQ(Bcc({}), "00");
    EXPECT_EQ(CalcBcc(nullptr, 0), "00");
}

TEST(HexDigit, MapsAllSixteenValues) {
    EXPECT_EQ(std::string(1, HexDigit(0)) + HexDigit(9) + HexDigit(10) + HexDigit(15), "09AF");
}

struct Display {
    std::string received;
    bool ascii;
    std::string line;
};

void PrintTo(const Display& row, std::ostream* os) {
    *os << row.received.size() << " bytes, ascii " << row.ascii;
}

class DisplaysBlock : public ::testing::TestWithParam<Display> {};

TEST_P(DisplaysBlock, FormatsOneLine) {
    EXPECT_EQ(BytesToDisplay(GetParam().received, GetParam().ascii), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Formatting, DisplaysBlock,
    ::testing::Values(Display{"AB\r\n", true, "A  B 0x0D 0x0A"},
                      Display{"AB\r\n", false, "0x41 0x42 0x0D 0x0A"},
                      Display{"\x01" "A", true, "0x01  A"}, Display{"12", true, "1  2"},
                      Display{" ", true, "0x20"}, Display{"\xE9", true, "0xE9"},
                      Display{"", true, ""}, Display{"", false, ""},
                      Display{std::string("\0\xFF", 2), true, "0x00 0xFF"},
                      Display{"z9", false, "0x7A 0x39"}));

TEST(BytesToDisplay, EveryByteHasAPrintableForm) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    for (bool ascii : {false, true}) {
        const std::string line = BytesToDisplay(all, ascii);
        for (char c : line) {
            EXPECT_TRUE(IsLetter(c) || IsDigit(c) || c == ' ') << static_cast<int>(c);
        }
    }
    EXPECT_EQ(BytesToDisplay(all, false).size(), 256u * 5 - 1);
}

}  // namespace
}  // namespace fun

TEST(BytesToText, PrintableAsItselfControlsEscaped) {
    const struct {
        std::string bytes;
        std::string text;
    } rows[] = {
        {"$GPRMC,1*7C\r\n", "$GPRMC,1*7C\\r\\n"},
        {std::string("\0\t\x7F\xE9 ~", 6), "\\x00\\t\\x7F\\xE9 ~"},
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(fun::BytesToText(row.bytes), row.text) << row.text;
}
