#include "base/text.h"

#include "base/terminal_text.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(Latin1ToUtf8, WidensEveryByte) {
    EXPECT_EQ(Latin1ToUtf8("Ab1"), "Ab1");
    EXPECT_EQ(Latin1ToUtf8(std::string("\0\x7F", 2)), std::string("\0\x7F", 2));
    EXPECT_EQ(Latin1ToUtf8("\x80\xFF"), "\xC2\x80\xC3\xBF");
}

// Nothing that reaches a terminal can act on it: controls, C1 controls in
// UTF-8 and bytes of no valid UTF-8 are escapes; the rest stands.
TEST(ForTerminal, EscapesEveryByteATerminalWouldActOn) {
    const struct {
        std::string text;
        const char* shown;
    } rows[] = {
        {"plain text: 0x41 (1)", "plain text: 0x41 (1)"},
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
        {std::string("a\0b\r\n\t\x7f", 7), "a\\x00b\\x0D\\x0A\\x09\\x7F"},
        {"\xc2\x9b" "2J", "\\xC2\\x9B2J"},        // CSI as UTF-8
        {"\x9b" "2J \xe9", "\\x9B2J \\xE9"},     // Latin-1 bytes, no UTF-8
        {"\xc2\xb5s \xe2\x80\x9c\xf0\x9f\x99\x82", "\xc2\xb5s \xe2\x80\x9c\xf0\x9f\x99\x82"},
        {"\xe2\x80", "\\xE2\\x80"},              // cut short
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},  // a surrogate
    };
    for (const auto& row : rows) EXPECT_EQ(ForTerminal(row.text), row.shown) << row.text;
}

}  // namespace
}  // namespace tarvik
