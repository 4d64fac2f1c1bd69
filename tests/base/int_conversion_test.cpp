#include "base/int_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarvik {
namespace {

struct Accepted {
    std::string text;
    std::int32_t value;
};

class StrToIntAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(StrToIntAccepts, Converts) {
    EXPECT_EQ(StrToInt(GetParam().text), GetParam().value) << "text: '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Notation, StrToIntAccepts,
    ::testing::Values(Accepted{"0", 0}, Accepted{"123", 123}, Accepted{"+7", 7},
                      Accepted{"-5", -5}, Accepted{"   42", 42}, Accepted{"007", 7},
                      Accepted{"2147483647", 2147483647},
                      Accepted{"-2147483648", INT32_MIN}, Accepted{"$1F", 0x1F},
                      Accepted{"$1f", 0x1F}, Accepted{"x10", 16}, Accepted{"X10", 16},
                      Accepted{"0x10", 16}, Accepted{"0XfF", 255}, Accepted{"-$10", -16},
                      Accepted{"+0x10", 16}, Accepted{"$FFFFFFFF", -1},
                      Accepted{"$80000000", INT32_MIN}, Accepted{"-$80000000", INT32_MIN},
                      Accepted{"$7FFFFFFF", 2147483647}, Accepted{"  -0x1", -1},
                      Accepted{"$00000001", 1}));

class StrToIntRefuses : public ::testing::TestWithParam<std::string> {};

TEST_P(StrToIntRefuses, RaisesWithWholeText) {
    const std::string& text = GetParam();
    try {
        StrToInt(text);
        FAIL() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
        EXPECT_EQ(e.Text(), text);
    }
}

INSTANTIATE_TEST_SUITE_P(Notation, StrToIntRefuses,
                         ::testing::Values("", "   ", "42 ", "\t42", "2147483648",
                                           "-2147483649", "99999999999999999999", "$", "0x",
                                           "x", "-", "+", "$123456789", "$g1", "$ ", "12ab",
                                           "1\t2", "--1", "+-1", "$-1", "0x 1", "1.0",
                                           "0b101", " + 1"));

TEST(StrToInt, ErrorQuotesLatin1TextAsUtf8) {
    try {
        StrToInt("\xE9");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'\xC3\xA9' is not a valid integer value");
        EXPECT_EQ(e.Text(), "\xE9");
    }
}

}  // namespace
}  // namespace tarvik
