// Receive rules over what arrives: whole messages, and a stream cut into
// blocks anyhow, with check values that must verify.

#include "sequences/rule_matcher.h"

#include <gtest/gtest.h>

#include "sequences/sequence_file.h"

namespace tarvik::sequences {
namespace {

// Built when a test runs: the codec's tables are not ready while statics start.
SequenceSet Set() {
    return ParseSequenceSet(
        "[rule poll]\npattern = 0x01 0x03 ?? ??\ncheck = BCC\n"
        "[rule ok]\npattern = \"OK\"\n"
        "[rule off]\npattern = \"X\"\nenabled = no\n",
        "set");
}

std::vector<std::size_t> Rules(const std::vector<RuleMatch>& matches) {
    std::vector<std::size_t> rules;
    for (const RuleMatch& m : matches) rules.push_back(m.rule);
    return rules;
}

TEST(RuleMatcherTest, MessagesMatchTheRulesTheyBeginWith) {
    RuleMatcher matcher(Set());
    std::vector<RuleMatch> matched;
    matcher.MatchMessage("OK\r\n", matched);
    matcher.MatchMessage("X", matched);                                         // its rule is off
    matcher.MatchMessage(std::string("\x01\x03\x00\x07\x30\x35", 6), matched);  // BCC "05"
    matcher.MatchMessage(std::string("\x01\x03\x00\x07\x30\x36", 6), matched);  // a bad BCC
    EXPECT_EQ(Rules(matched), (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(matched[1].bytes, std::string("\x01\x03\x00\x07\x30\x35", 6));
    EXPECT_EQ(matcher.Figures(0).matched, 1u);
}

TEST(RuleMatcherTest, AStreamIsMatchedAcrossBlocksAndPastNoise) {
    RuleMatcher matcher(Set());
    std::vector<RuleMatch> matched;
    // Noise, a match split over three blocks, a bad check value, then two at once.
    for (const std::string& block :
         {std::string("zz\x01", 3), std::string("\x03\x00", 2), std::string("\x07\x30\x35O", 4),
          std::string("KX"), std::string("\x01\x03\x00\x07\x30\x36OKOK", 10)})
        matcher.MatchStream(block, matched);
    EXPECT_EQ(Rules(matched), (std::vector<std::size_t>{0, 1, 1, 1}));
    matcher.SetEnabled(1, false);
    matched.clear();
    matcher.MatchStream("OK", matched);
    EXPECT_TRUE(matched.empty());
    EXPECT_FALSE(RuleMatcher().AnyEnabled());
}

}  // namespace
}  // namespace tarvik::sequences
