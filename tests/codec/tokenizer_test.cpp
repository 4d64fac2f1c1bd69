#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "base/int_conversion.h"
#include "base/message_box.h"
#include "codec/fun.h"

namespace fun {
namespace {

const std::string Q = "\"";  // a double quote, named to keep the tables readable

std::vector<std::string> Tokens() {
    return {TokenTable.begin(), TokenTable.begin() + TokenCount};
}

std::vector<int> Bytes() { return {ByteBuf.begin(), ByteBuf.begin() + ByteLen}; }

struct Encoded {
    std::string line;
    std::vector<std::string> tokens;
    std::vector<int> bytes;
};

void PrintTo(const Encoded& row, std::ostream* os) { *os << "line '" << row.line << "'"; }

class EncodesLine : public ::testing::TestWithParam<Encoded> {};

TEST_P(EncodesLine, TokensThenBytes) {
    const auto& row = GetParam();
    EXPECT_EQ(StrToTokens(row.line), static_cast<int>(row.tokens.size()));
    EXPECT_EQ(Tokens(), row.tokens);
    EXPECT_TRUE(TokensToBytes());
    EXPECT_EQ(Bytes(), row.bytes);
    EXPECT_EQ(TokenCount, 0) << "a complete encoding consumes the table";
}

INSTANTIATE_TEST_SUITE_P(
    Notation, EncodesLine,
    ::testing::Values(
        Encoded{"0x01 0x1 123 " + Q + "A3" + Q, {"0x01", "0x1", "123", Q + "A3" + Q},
                {0x01, 0x01, 0x7B, 0x41, 0x33}},
        Encoded{"0x123", {"0x12", "3"}, {0x12, 0x03}},
        Encoded{"0x1g", {"0x1"}, {0x01}},
        Encoded{"AB,0x01;;5", {"0x01", "5"}, {0x01, 0x05}},
        Encoded{Q + "A B" + Q, {Q + "A B" + Q}, {0x41, 0x20, 0x42}},
        Encoded{Q + Q, {Q + Q}, {}},
        Encoded{"300", {"300"}, {0x2C}},
        Encoded{"256", {"256"}, {0x00}},
        Encoded{"-5", {"5"}, {0x05}},
        Encoded{"0X1F", {"0X1F"}, {0x1F}},
        Encoded{"  \t0x41 \r\n", {"0x41"}, {0x41}},
        Encoded{"", {}, {}},
        Encoded{"   ", {}, {}},
        Encoded{"0x01\t0x02", {"0x01", "0x02"}, {0x01, 0x02}},
        Encoded{Q + "\x01\xFF\x80" + Q, {Q + "\x01\xFF\x80" + Q}, {0x01, 0xFF, 0x80}},
        Encoded{"0xff 0xFF", {"0xff", "0xFF"}, {0xFF, 0xFF}}));

struct Refused {
    std::string line;
    std::vector<std::string> tokens;
    std::string convertedText;  // what the integer conversion was given
};

void PrintTo(const Refused& row, std::ostream* os) { *os << "line '" << row.line << "'"; }

class RefusesNumber : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusesNumber, RaisesConversionErrorAndKeepsTable) {
    const auto& row = GetParam();
    StrToTokens(row.line);
    EXPECT_EQ(Tokens(), row.tokens);
    try {
        TokensToBytes();
        FAIL() << "encoded " << row.line;
    } catch (const tarvik::EConvertError& e) {
        EXPECT_EQ(e.Text(), row.convertedText);
        EXPECT_EQ(std::string(e.what()), "'" + row.convertedText + "' is not a valid integer value");
    }
    EXPECT_EQ(TokenCount, static_cast<int>(row.tokens.size())) << "a failed encoding keeps the count";
}

INSTANTIATE_TEST_SUITE_P(Notation, RefusesNumber,
                         ::testing::Values(Refused{"0xg1", {"0xg1"}, "$g1"},
                                           Refused{"0x", {"0x "}, "$ "},
                                           Refused{"12ab", {"12ab"}, "12ab"},
                                           Refused{"12" + Q + "AB" + Q, {"12" + Q + "AB" + Q},
                                                   "12" + Q + "AB" + Q},
                                           Refused{"1\t2", {"1\t2"}, "1\t2"}));

TEST(TokensToBytes, FailingTokenLeavesEarlierBytes) {
    StrToTokens("0x01 0x02 7z 0x03");
    EXPECT_THROW(TokensToBytes(), tarvik::EConvertError);
    EXPECT_EQ(Bytes(), (std::vector<int>{0x01, 0x02}));
    EXPECT_EQ(TokenCount, 4);
}

TEST(TokensToBytes, TokenOfNoFormStopsWithFalse) {
    StrToTokens("0x01 0x02");
    TokenTable[1] = "zz";
    EXPECT_FALSE(TokensToBytes());
    EXPECT_EQ(Bytes(), (std::vector<int>{0x01}));
    EXPECT_EQ(TokenCount, 2);
}

TEST(TokensToBytes, SecondEncodingWithoutTokenizingYieldsNothing) {
    StrToTokens("1 2 3");
    ASSERT_TRUE(TokensToBytes());
    ASSERT_EQ(ByteLen, 3);
    EXPECT_TRUE(TokensToBytes());
    EXPECT_EQ(ByteLen, 0);
}

// Limits: a line the table or the buffer cannot hold is refused whole, and
// nothing is written past either.
TEST(LineLimits, ExactlyFullTableAndBufferAreAccepted) {
    std::string line;
    for (int i = 0; i < 256; ++i) line += "0x" + std::string(1, "0123456789ABCDEF"[i % 16]) + " ";
    EXPECT_EQ(StrToTokens(line), 256);
    EXPECT_TRUE(TokensToBytes());
    EXPECT_EQ(ByteLen, 256);

    StrToTokens(Q + std::string(256, 'x') + Q);
    EXPECT_TRUE(TokensToBytes());
    EXPECT_EQ(ByteLen, 256);
}

TEST(LineLimits, MoreThan256TokensIsRefused) {
    std::string line;
    for (int i = 0; i < 257; ++i) line += "1 ";
    try {
        StrToTokens(line);
        FAIL();
    } catch (const ELineError& e) {
        EXPECT_NE(std::string(e.what()).find("256 tokens"), std::string::npos);
    }
    EXPECT_EQ(TokenCount, 0);
    EXPECT_TRUE(TokensToBytes());
    EXPECT_EQ(ByteLen, 0) << "a refused line leaves nothing to send";
}

TEST(LineLimits, MoreThan256BytesIsRefusedWithoutOverrun) {
    StrToTokens(Q + std::string(200, 'a') + Q + " " + Q + std::string(100, 'b') + Q);
    try {
        TokensToBytes();
        FAIL();
    } catch (const ELineError& e) {
        EXPECT_NE(std::string(e.what()).find("256 bytes"), std::string::npos);
    }
    EXPECT_EQ(ByteLen, 256);
    EXPECT_EQ(TokenCount, 2);
}

// The position counts in the line as typed, blanks and controls in front included.
TEST(LineLimits, UnclosedQuoteIsRefusedNamingItsPosition) {
    const struct {
        std::string line;
        int position;
    } cases[] = {
        {"0x01 " + Q + "AB", 6},
        {"\x01" + Q, 2},
        {"  " + Q + "AB  ", 3},
        {"\t\r 0x01 " + Q, 9},
    };
    for (const auto& c : cases) {
        try {
            StrToTokens(c.line);
            ADD_FAILURE() << c.line;
        } catch (const ELineError& e) {
            EXPECT_EQ(std::string(e.what()), "The double quote at position " +
                                                 std::to_string(c.position) +
                                                 " of the command line is not closed");
        }
        EXPECT_EQ(TokenCount, 0);
    }
}

// Megabytes of characters the notation skips, then a token: walked once
// (shortening the line from its front for each moved the rest each time).
TEST(LineLimits, MegabytesOfSkippedCharactersThenAToken) {
    const std::string line = std::string(4 * 1024 * 1024, 'z') + " 0x41";
    ASSERT_EQ(StrToTokens(line), 1);
    ASSERT_TRUE(TokensToBytes());
    EXPECT_EQ(ByteLen, 1);
    EXPECT_EQ(ByteBuf[0], 0x41);
}

TEST(CutLeft, TakesAndRemovesTheHead) {
    std::string text = "abcdef";
    EXPECT_EQ(CutLeft(text, 2), "ab");
    EXPECT_EQ(text, "cdef");
    EXPECT_EQ(CutLeft(text, 10), "cdef");
    EXPECT_EQ(text, "");
    text = "xy";
    EXPECT_EQ(CutLeft(text, 0), "");
    EXPECT_EQ(CutLeft(text, -1), "");
    EXPECT_EQ(text, "xy");
}

TEST(CharacterTests, CoverExactlyTheirRanges) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        EXPECT_EQ(IsDigit(ch), c >= '0' && c <= '9') << c;
        EXPECT_EQ(IsHexDigit(ch),
                  (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
            << c;
        EXPECT_EQ(IsLetter(ch), (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) << c;
    }
}

TEST(ShowMsg, ShowsAnOwnerlessInformationBox) {
    std::vector<tarvik::MessageBoxRequest> shown;
    auto previous =
        tarvik::SetMessageBoxFunction([&](const tarvik::MessageBoxRequest& r) { shown.push_back(r); });
    ShowMsg("Not Connected");
    tarvik::SetMessageBoxFunction(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Not Connected");
    EXPECT_EQ(shown[0].caption, "Syntax error");
    EXPECT_EQ(shown[0].icon, tarvik::MessageIcon::Information);
    EXPECT_FALSE(shown[0].hasOwner);
}

}  // namespace
}  // namespace fun
