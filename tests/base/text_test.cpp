#include "base/text.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(Latin1ToUtf8, WidensEveryByte) {
    EXPECT_EQ(Latin1ToUtf8("Ab1"), "Ab1");
    EXPECT_EQ(Latin1ToUtf8(std::string("\0\x7F", 2)), std::string("\0\x7F", 2));
    EXPECT_EQ(Latin1ToUtf8("\x80\xFF"), "\xC2\x80\xC3\xBF");
}

}  // namespace
}  // namespace tarvik
