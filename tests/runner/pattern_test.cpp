// Expect patterns: the notation with "??", refused where a stray character
// would make a pattern match what it was never meant to, and judged byte by
// byte with an optional check value.

#include "runner/pattern.h"

#include "runner/script_literals.h"

#include <gtest/gtest.h>

namespace tarvik::runner {
namespace {

TEST(PatternTest, ParsesTheNotationWithAnyByte) {
    const struct {
        const char* text;
        std::string bytes;
        std::vector<bool> any;
    } rows[] = {
        {"0x06 \"OK\"", std::string("\x06OK"), {false, false, false}},
        {"0x01 ?? 3", std::string("\x01\0\x03", 3), {false, true, false}},
        {"\"??\"", "??", {false, false}},  // quoted: two question marks
        {"????", std::string(2, '\0'), {true, true}},
    };
    for (const auto& row : rows) {
        const Pattern pattern = ParsePattern(row.text);
        EXPECT_EQ(pattern.bytes, row.bytes) << row.text;
        EXPECT_EQ(pattern.any, row.any) << row.text;
    }
}

TEST(PatternTest, RefusesWhatIsNotTheNotation) {
    for (const char* text : {"OK", "0x06 OK", "0x06,0x07", "", "  ", "0xg1", "12ab", "\"open"})
        EXPECT_THROW(ParsePattern(text), EPattern) << text;
}

TEST(PatternTest, JudgesByteByByteAndVerifiesTheCheckValue) {
    Pattern pattern = ParsePattern("0x01 0x03 ??");
    AddCheck(pattern, CheckValueNamed("CRC-16/MODBUS"));
    EXPECT_EQ(pattern.Size(), 5u);
    const struct {
        std::string received;
        MatchState state;
    } rows[] = {
        {"", MatchState::Partial},
        {"\x01\x03", MatchState::Partial},
        {"\x02", MatchState::Mismatch},
        {std::string("\x01\x03\x00\x20\xF0", 5),
         MatchState::Matched},  // CRC-16/MODBUS of 01 03 00, low first
        {std::string("\x01\x03\x00\xF0\x20", 5), MatchState::Mismatch},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Match(pattern, row.received).state, row.state)
            << testing::PrintToString(row.received);
    EXPECT_THROW(CheckValueNamed("CRC-99"), EPattern);
    EXPECT_EQ(&CheckValueNamed("CRC-32"), &CheckValueNamed("CRC-32/ISO-HDLC"));  // the alias
}

// A script's literals are checked where Lua would read them as the whole
// first argument of send or expect (with a literal check value), and
// nowhere else; a huge literal costs no stack.
TEST(ScriptLiteralsTest, ChecksTheLiteralsOfSendAndExpectOnly) {
    const struct {
        std::string source;
        const char* refusal;  // "" when accepted
    } rows[] = {
        {"send('0x01 0x02')", ""},
        {"\n\nsend(\"12ab\")", "t.lua:3: "},
        {"send([[12ab]])", "t.lua:1: "},
        {"send([==[\n12ab]==])", "t.lua:1: "},
        {"send('0x01', 'CRC-99')", "t.lua:1: No check value is named 'CRC-99'"},
        {"expect('0x01', {timeout = 5,\n check = \"CRC-99\"})", "t.lua:1: No check value"},
        {"expect('0x01', {name = 'a', check = 'BCC'})", ""},
        {"expect('0x01 OK')", "t.lua:1: Pattern '0x01 OK'"},
        {"-- send('0x1G')", ""},
        {"--[[\nsend('0x1G')\n]] send('1')", ""},
        {"x = \"send('0x1G')\" resend('0x1G') s.send2('0x1G')", ""},
        {"send('0x01' .. x)", ""},
        {"send('\\x1G')", ""},  // an escape left to the run
        {"send('" + std::string(300000, ' ') + "')", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source.substr(0, 60));
        try {
            CheckScriptLiterals("t.lua", row.source);
            EXPECT_EQ(std::string(row.refusal), "");
        } catch (const std::runtime_error& error) {
            EXPECT_NE(*row.refusal, 0) << error.what();
            EXPECT_TRUE(std::string(error.what()).starts_with(row.refusal)) << error.what();
        }
    }
}

}  // namespace
}  // namespace tarvik::runner
