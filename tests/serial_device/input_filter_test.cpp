#include "serial/device/input_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace cport::device {
namespace {

std::string Filter(InputFilter& filter, std::string bytes) {
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    bytes.resize(filter.Apply(data, bytes.size()));
    return bytes;
}

TEST(InputFilter, MarksAndNulls) {
    struct Case {
        InputRules rules;
        std::string in;
        std::string out;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {{}, "a\0\xFF"s, "a\0\xFF"s},
        {{false, false, 0, true, 0}, "\0a\0b\0"s, "ab"},
        // Checking without replacement keeps the bad byte, a doubled 0xFF is one.
        {{true, false, 0, false, 0}, "a\xFF\x00x\xFF\xFFz"s, "ax\xFFz"},
        {{true, true, '?', false, 0}, "a\xFF\x00xb"s, "a?b"},
        // A marked NUL is data, and is discarded only as data.
        {{true, false, 0, true, 0}, "\xFF\x00\x00q"s, "q"},
    };
    for (const Case& c : cases) {
        InputFilter filter;
        filter.SetRules(c.rules);
        EXPECT_EQ(Filter(filter, c.in), c.out);
    }
}

TEST(InputFilter, MarkCutBetweenReads) {
    InputFilter filter;
    filter.SetRules({true, true, '#', false, 0});
    using namespace std::string_literals;
    EXPECT_EQ(Filter(filter, "ab\xFF"s), "ab");
    EXPECT_EQ(Filter(filter, "\x00"s), "");
    EXPECT_EQ(Filter(filter, "zc"s), "#c");
    EXPECT_EQ(Filter(filter, "\xFF"s), "");
    EXPECT_EQ(Filter(filter, "\xFF!"s), "\xFF!");
}

}  // namespace
}  // namespace cport::device
