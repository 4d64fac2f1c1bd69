#include "base/box_text.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

struct Row {
    const char* name;
    std::string text;
    std::string shown;
    std::string details;
};

// Limits small enough to read: 3 lines of 4 characters, 10 in all, 12 under the details.
TEST(BoxText, AScreenfulAtMost) {
    const BoxTextLimits limits{3, 4, 10, 12};
    const std::string more = "\n\xE2\x80\xA6 (";
    const Row rows[] = {
        {"short stays", "ab\ncd", "ab\ncd", ""},
        {"long word broken", "abcdefgh", "abcd\nefgh", ""},
        {"long line broken after a word", "ab cdefg", "ab\ncdef\ng", ""},
        {"too many lines", "a\nb\nc\nd", "a\nb\nc" + more + "7 characters)", "a\nb\nc\nd"},
        {"too long", std::string(20, 'x'),
         "xxxx\nxxxx\nxx" + more + "20 characters)",
         std::string(12, 'x') + more + "20 characters)"},
        {"characters, not bytes", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\n\xC3\xA9", ""},
    };
    for (const Row& row : rows) {
        const BoxText box = FitToScreen(row.text, limits);
        EXPECT_EQ(box.shown, row.shown) << row.name;
        EXPECT_EQ(box.details, row.details) << row.name;
    }
}

}  // namespace
}  // namespace tarvik
