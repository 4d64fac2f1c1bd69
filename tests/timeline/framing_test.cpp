// Framing and the times in front of log lines, as tables: no port, no Qt.

#include "timeline/framing.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "codec/check_value.h"
#include "timeline/timestamp.h"

namespace tarvik::timeline {
namespace {

struct Expected {
    std::string bytes;
    std::int64_t firstUs;
    std::int64_t lastUs;
};

struct FramingCase {
    const char* name;
    FramingRule rule;
    std::vector<ReceivedBlock> blocks;
    bool closeLast;
    std::vector<Expected> messages;
};

FramingRule Gap(std::int64_t us) {
    return {.kind = FramingKind::Gap, .gapUs = us};
}
FramingRule End(unsigned char byte, std::size_t max = kMaxMessageBytes) {
    return {.kind = FramingKind::EndByte, .endByte = byte, .maxBytes = max};
}

const FramingCase kCases[] = {
    {"per arrival: each block as it came",
     {},
     {{"AB", 10, 12}, {"C", 20, 20}},
     false,
     {{"AB", 10, 12}, {"C", 20, 20}}},
    {"per arrival keeps a long block whole",
     {.maxBytes = 2},
     {{"ABCDE", 1, 2}},
     false,
     {{"ABCDE", 1, 2}}},
    {"gap: reads close together are one message",
     Gap(1000),
     {{"AB", 100, 100}, {"CD", 600, 700}, {"E", 1699, 1699}},
     true,
     {{"ABCDE", 100, 1699}}},
    {"gap: a quiet line ends the message",
     Gap(1000),
     {{"AB", 100, 100}, {"CD", 1100, 1150}, {"E", 5000, 5000}},
     false,
     {{"AB", 100, 100}, {"CD", 1100, 1150}}},
    {"gap: the last message waits for the quiet", Gap(1000), {{"AB", 1, 1}}, false, {}},
    {"gap: cut only where the earliest arrival proves the gap",
     Gap(1000),
     {{"AB", 100, 100}, {"CD", 5000, 5000, 150}, {"E", 9000, 9000, 6500}},
     false,
     {{"ABCD", 100, 5000}}},
    {"gap: split at the longest message",
     {.kind = FramingKind::Gap, .gapUs = 50, .maxBytes = 3},
     {{"ABCD", 1, 2}, {"EFG", 3, 4}},
     true,
     {{"ABC", 1, 2}, {"DEF", 2, 4}, {"G", 4, 4}}},
    {"end byte: one message over several reads",
     End('\r'),
     {{"0x", 1, 1}, {"41", 5, 6}, {"\r", 9, 9}},
     false,
     {{"0x41\r", 1, 9}}},
    {"end byte: several messages in one read",
     End('\n'),
     {{"a\nbc\nd", 1, 2}},
     false,
     {{"a\n", 1, 2}, {"bc\n", 2, 2}}},
    {"end byte: the rest waits, then closes",
     End('\n'),
     {{"a\nbc\nd", 1, 2}},
     true,
     {{"a\n", 1, 2}, {"bc\n", 2, 2}, {"d", 2, 2}}},
    {"end byte: split at the longest message",
     End('\n', 4),
     {{"ABCDEF\n", 1, 3}},
     false,
     {{"ABCD", 1, 3}, {"EF\n", 3, 3}}},
    {"end byte: a NUL end byte",
     End(0),
     {{std::string_view("a\0b", 3), 1, 1}},
     false,
     {{std::string("a\0", 2), 1, 1}}},
    {"empty blocks change nothing",
     Gap(10),
     {{"", 1, 1}, {"A", 5, 5}, {"", 100, 100}},
     true,
     {{"A", 5, 5}}},
};

class FramingTable : public testing::TestWithParam<FramingCase> {};

TEST_P(FramingTable, CutsTheStreamIntoMessages) {
    const FramingCase& c = GetParam();
    const std::vector<Message> got = FrameBlocks(c.blocks, c.rule, c.closeLast);
    ASSERT_EQ(got.size(), c.messages.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].bytes, c.messages[i].bytes);
        EXPECT_EQ(got[i].firstUs, c.messages[i].firstUs);
        EXPECT_EQ(got[i].lastUs, c.messages[i].lastUs);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, FramingTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FramingCase>& row) {
                             std::string name;
                             for (const char* c = row.param.name; *c != 0; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// The window closes a gap message on its timer: Pending says there is one,
// PendingLastUs when its quiet began.
TEST(Framer, ClosesAPendingMessageWhenAsked) {
    Framer framer(Gap(1000));
    std::vector<Message> out;
    framer.Add({"AB", 10, 20}, out);
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(framer.Pending());
    EXPECT_EQ(framer.PendingLastUs(), 20);
    framer.Close(out);
    EXPECT_FALSE(framer.Pending());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, "AB");
    framer.Close(out);
    EXPECT_EQ(out.size(), 1u);
}

// Where timing cannot tell, the check value repairs the cuts: Modbus RTU
// frames with CRC-16/MODBUS and NMEA sentences with their XOR. Blocks are
// (bytes, time); the gap is 1 ms, so a block 5 ms after the one before is
// cut off by timing.
std::string Modbus(const std::string& body) {
    return body + fun::CheckValueBytes(*fun::FindCheckValue("CRC-16/MODBUS"),
                                       {reinterpret_cast<const std::uint8_t*>(body.data()),
                                        body.size()});
}
std::string Nmea(const std::string& sentence) {
    const std::string bytes = sentence.substr(1);
    return sentence +
           fun::CheckValueBytes(*fun::FindCheckValue("NMEA 0183"),
                                {reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                 bytes.size()}) +
           "\r\n";
}

struct RepairCase {
    const char* name;
    const char* check;  // nullptr: timing alone
    std::vector<std::pair<std::string, std::int64_t>> blocks;
    std::vector<std::string> messages;
};

TEST(Framer, CheckValueCutsAndJoinsWhereTimingCannotTell) {
    const std::string a = Modbus(std::string("\x01\x03\x00\x00\x00\x0A", 6));
    const std::string b = Modbus(std::string("\x01\x03\x04\x00\x2A\x00\x07", 7));
    std::string badA = a;
    badA.back() = static_cast<char>(badA.back() ^ 0x55);
    const std::string gga = Nmea("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    const std::string rmc = Nmea("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,");
    const char* modbus = "CRC-16/MODBUS";
    const char* nmea = "NMEA 0183";
    const RepairCase rows[] = {
        {"two frames in one read, cut", modbus, {{a + b, 0}}, {a, b}},
        {"two frames in one read, timing alone", nullptr, {{a + b, 0}}, {a + b}},
        {"a frame that stalled, joined", modbus, {{a.substr(0, 3), 0}, {a.substr(3), 5000}}, {a}},
        {"a stall, timing alone", nullptr,
         {{a.substr(0, 3), 0}, {a.substr(3), 5000}}, {a.substr(0, 3), a.substr(3)}},
        {"stalled, then the next frame in the same read", modbus,
         {{a.substr(0, 3), 0}, {a.substr(3) + b, 5000}}, {a, b}},
        {"three pieces", modbus,
         {{a.substr(0, 2), 0}, {a.substr(2, 3), 5000}, {a.substr(5), 10000}}, {a}},
        {"a bad frame stands as it came", modbus, {{badA, 0}, {b, 5000}}, {badA, b}},
        {"a piece left alone past its hold", modbus,
         {{a.substr(0, 3), 0}, {b, 5000 + kMinHoldUs}}, {a.substr(0, 3), b}},
        {"two sentences in one read", nmea, {{gga + rmc, 0}}, {gga, rmc}},
        {"a sentence that stalled", nmea,
         {{gga.substr(0, 20), 0}, {gga.substr(20), 5000}}, {gga}},
    };
    for (const RepairCase& row : rows) {
        SCOPED_TRACE(row.name);
        FramingRule rule = Gap(1000);
        rule.check = row.check != nullptr ? fun::FindCheckValue(row.check) : nullptr;
        std::vector<ReceivedBlock> blocks;
        for (const auto& [bytes, us] : row.blocks) blocks.push_back({bytes, us, us});
        std::vector<std::string> got;
        for (const Message& message : FrameBlocks(blocks, rule, true)) got.push_back(message.bytes);
        EXPECT_EQ(got, row.messages);
    }
}

// A piece held back goes out as it came once the line stays quiet for the
// hold time; Poll says when.
TEST(Framer, HeldPieceIsReleasedAtItsDueTime) {
    FramingRule rule = Gap(1000);
    rule.check = fun::FindCheckValue("CRC-16/MODBUS");
    Framer framer(rule);
    std::vector<Message> out;
    framer.Add({"\x01\x03", 0, 0}, out);
    EXPECT_EQ(framer.DueUs(), 1000);
    framer.Poll(1000, out);
    EXPECT_TRUE(out.empty() && framer.Holding());
    EXPECT_EQ(framer.DueUs(), kMinHoldUs);
    framer.Poll(kMinHoldUs, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, "\x01\x03");
    EXPECT_FALSE(framer.DueUs().has_value());
}

// 3.5 characters: Modbus RTU's 19200 8E1 is 11 bits a character, 2005.2 µs.
TEST(AutoGap, IsThreeAndAHalfCharacterTimes) {
    EXPECT_EQ(AutoGapUs(19200, 8, true, 2), 2006);
    EXPECT_EQ(AutoGapUs(9600, 8, false, 2), 3646);   // 10 bits
    EXPECT_EQ(AutoGapUs(110, 5, false, 3), 238637);  // 7.5 bits
    EXPECT_EQ(AutoGapUs(4000000, 8, false, 2), 9);
    EXPECT_EQ(AutoGapUs(0, 8, false, 2), 1);
}

TEST(Timestamp, FormatsEachMode) {
    const Moment at{.monotonicUs = 5'250'000, .wallUs = 0};
    EXPECT_EQ(FormatTimestamp(TimestampMode::Off, at, 0, 0), "");
    EXPECT_EQ(FormatTimestamp(TimestampMode::SincePrevious, at, 5'000'001, 0), "+0.249999 ");
    EXPECT_EQ(FormatTimestamp(TimestampMode::SincePrevious, at, 6'000'000, 0), "+0.000000 ");
    EXPECT_EQ(FormatTimestamp(TimestampMode::SinceStart, at, 0, 1'000'000), "4.250000 ");
    // The time of day is local: compare with the C library's own reading.
    const Moment noon{.monotonicUs = 0, .wallUs = 1'765'000'000'123'456};
    const std::time_t seconds = 1'765'000'000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%02d:%02d:%02d.123 ", local.tm_hour, local.tm_min,
                  local.tm_sec);
    EXPECT_EQ(FormatTimestamp(TimestampMode::TimeOfDay, noon, 0, 0), expected);
}

}  // namespace
}  // namespace tarvik::timeline
