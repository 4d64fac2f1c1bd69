// The timed form: every kind of record written and read back equal, and
// damaged captures refused at the line where they break.

#include "capture/capture_format.h"

#include <gtest/gtest.h>

namespace tarvik::capture {
namespace {

using cport::LineEvent;
using cport::LineEventKind;
using cport::LineTime;

CaptureRecord Block(RecordKind kind, std::int64_t us, std::string bytes) {
    return {.kind = kind, .time = {us, us + 1'700'000'000'000'000}, .bytes = std::move(bytes)};
}

CaptureRecord Event(LineEventKind kind, std::int64_t us, bool state = false,
                    std::uint32_t count = 0) {
    const LineTime time{us, us + 1'700'000'000'000'000};
    return {.kind = RecordKind::kEvent,
            .time = time,
            .bytes = {},
            .event = {.kind = kind, .time = time, .state = state, .count = count, .reason = {}}};
}

TEST(CaptureFormatTest, EveryRecordReadsBackEqual) {
    std::string all256;
    for (int i = 0; i < 256; ++i) all256.push_back(static_cast<char>(i));
    const std::vector<CaptureRecord> records = {
        Event(LineEventKind::kOpened, 1),
        Event(LineEventKind::kNoLineEvents, 1),
        Block(RecordKind::kSent, 10, "ping\r\n"),
        Block(RecordKind::kReceived, 12, all256),
        Event(LineEventKind::kCts, 13, true),
        Event(LineEventKind::kDsr, 13, false),
        Event(LineEventKind::kRlsd, 14, true),
        Event(LineEventKind::kRing, 14, false),
        Event(LineEventKind::kBreak, 15, false, 2),
        Event(LineEventKind::kFrame, 15, false, 1),
        Event(LineEventKind::kParity, 15, false, 4294967295u),
        Event(LineEventKind::kOverrun, 16, false, 3),
        Event(LineEventKind::kBufferOverrun, 16, false, 7),
        Event(LineEventKind::kLost, 17),
        Event(LineEventKind::kBack, 18),
        Block(RecordKind::kReceived, 19, std::string(1, '\0')),
        Event(LineEventKind::kClosed, 20),
    };
    std::string text(kTimedHeader);
    for (const auto& record : records) AppendRecordLine(record, text);
    text += "# a note\n";
    EXPECT_EQ(ParseCapture(text), records);
    EXPECT_NE(text.find("10 1700000000000010 tx 70696e670d0a\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" ev parity-error 4294967295\n"), std::string::npos);
    EXPECT_NE(text.find(" ev CTS on\n"), std::string::npos);
}

TEST(CaptureFormatTest, DamagedCapturesAreRefusedWhereTheyBreak) {
    const std::string head(kTimedHeader);
    struct Row {
        std::string text;
        std::size_t line;
        const char* says;
    } rows[] = {
        {"", 1, "not a timed capture"},
        {"# tarvik2 capture 2\n", 1, "not a timed capture"},
        {"# tarvik2 capture 1x\n", 1, "not a timed capture"},
        {std::string(70000, '\0'), 1, "not a timed capture"},
        {head + "5 6 rx 4\n", 2, "pairs of hex digits"},
        {head + "5 6 rx 4G\n", 2, "\"4G\" is not a pair"},
        {head + "5 6 rx\n", 2, "one field of hex bytes"},
        {head + "5 6 rx 41 42\n", 2, "one field of hex bytes"},
        {head + "x 6 rx 41\n", 2, "monotonic time is not"},
        {head + "0 6 rx 41\n", 2, "above 0"},
        {head + "5 -6 rx 41\n", 2, "wall-clock time is not"},
        {head + "5 6 zz 41\n", 2, "not rx, tx or ev"},
        {head + "5 6 ev CTS\n", 2, "\"on\" or \"off\""},
        {head + "5 6 ev CTS maybe\n", 2, "\"on\" or \"off\""},
        {head + "5 6 ev break\n", 2, "its count"},
        {head + "5 6 ev break 4294967296\n", 2, "too large"},
        {head + "5 6 ev opened now\n", 2, "nothing after its name"},
        {head + "5 6 ev smoke\n", 2, "not a line event"},
        {head + "5 6 ev\n", 2, "needs its name"},
        {head + "5 6\n", 2, "expected"},
        {head + "5  6 rx 41\n", 2, "wall-clock time is not"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        try {
            ParseCapture(row.text);
            ADD_FAILURE() << "accepted";
        } catch (const ECaptureFormat& error) {
            EXPECT_EQ(error.Line(), row.line);
            EXPECT_NE(std::string(error.what()).find(row.says), std::string::npos) << error.what();
            EXPECT_TRUE(
                std::string(error.what()).starts_with("line " + std::to_string(row.line) + ": "));
        }
    }
}

}  // namespace
}  // namespace tarvik::capture

namespace tarvik::capture {
namespace {

// A capture the disk stopped mid-record reads up to its last whole line,
// with a warning naming the torn one; the same whether it comes whole or a
// byte at a time. A line past the bound is refused, not gathered.
TEST(CaptureFormatTest, ATornLastLineIsLeftOutWithAWarning) {
    const std::string head(kTimedHeader);
    struct Row {
        std::string text;
        std::size_t records;
        const char* warning;  // "" for none
    } rows[] = {
        {head + "5 6 rx 41\n7 8 rx 4", 1, "line 3: cut short (the last line has no end); left out"},
        {head + "5 6 rx 41\n7 8 rx 42", 1, "line 3: cut short"},
        {head + "5 6 rx 41\n# stopp", 1, "line 3: cut short"},
        {"# tarvik2 cap", 0, "line 1: cut short"},
        {head, 0, ""},
        {head + "5 6 rx 41\n", 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string warning = "?";
        EXPECT_EQ(ParseCapture(row.text, &warning).size(), row.records);
        EXPECT_TRUE(warning.starts_with(row.warning)) << warning;
        EXPECT_EQ(warning.empty(), *row.warning == 0);
        CaptureParser parser;
        std::size_t records = 0;
        for (const char c : row.text)
            parser.Feed(std::string_view(&c, 1), [&](CaptureRecord&&) { ++records; });
        EXPECT_EQ(records, row.records);
        EXPECT_EQ(parser.Finish(), warning);
    }
    CaptureParser bounded(24);
    try {
        bounded.Feed(head + "5 6 rx 41424344454647484950\n", [](CaptureRecord&&) {});
        ADD_FAILURE() << "a line past the bound was taken";
    } catch (const ECaptureFormat& error) {
        EXPECT_EQ(std::string(error.what()),
                  "line 2: the line is longer than the 24 bytes a capture's line may hold");
    }
}

}  // namespace
}  // namespace tarvik::capture
