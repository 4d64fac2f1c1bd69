#include "serial/device/comm_timeouts.h"

#include <gtest/gtest.h>

namespace cport::device {
namespace {

using std::chrono::milliseconds;
using Kind = ReadRule::Kind;

struct RuleCase {
    COMMTIMEOUTS timeouts;
    std::uint32_t count;
    Kind kind;
    std::optional<milliseconds> total;
    std::optional<milliseconds> interval;
};

TEST(CommTimeouts, ReadRules) {
    const RuleCase cases[] = {
        // The port's initial values: take what is there.
        {{MAXDWORD, 0, 0, 100, 1000}, 10, Kind::kReturnAtOnce, {}, {}},
        // The main window's: 200 ms between bytes, 200 ms a byte plus 200 ms.
        {{200, 200, 200, 0, 0}, 10, Kind::kCount, milliseconds(2200), milliseconds(200)},
        {{MAXDWORD, MAXDWORD, 500, 0, 0}, 10, Kind::kReturnOnFirstByte, milliseconds(500), {}},
        // MAXDWORD constant is no "first byte" read.
        {{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0},
         1,
         Kind::kCount,
         milliseconds(0x1FFFFFFFEull),
         milliseconds(MAXDWORD)},
        {{0, 0, 0, 0, 0}, 10, Kind::kCount, {}, {}},
        {{50, 0, 0, 0, 0}, 10, Kind::kCount, {}, milliseconds(50)},
        {{0, 0, 300, 0, 0}, 10, Kind::kCount, milliseconds(300), {}},
        // Huge products are capped, not wrapped.
        {{0, MAXDWORD, 0, 0, 0}, MAXDWORD, Kind::kCount, milliseconds(std::int64_t{1} << 40), {}},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.timeouts.ReadIntervalTimeout << "/"
                                        << c.timeouts.ReadTotalTimeoutMultiplier << "/"
                                        << c.timeouts.ReadTotalTimeoutConstant << " n=" << c.count);
        const ReadRule rule = MakeReadRule(c.timeouts, c.count);
        EXPECT_EQ(rule.kind, c.kind);
        EXPECT_EQ(rule.total, c.total);
        EXPECT_EQ(rule.interval, c.interval);
    }
}

TEST(CommTimeouts, SatisfiedAndDeadlines) {
    const auto t0 = SteadyClock::now();
    const ReadRule windowRule = MakeReadRule({200, 200, 200, 0, 0}, 10);
    EXPECT_FALSE(ReadSatisfied(windowRule, 10, 9));
    EXPECT_TRUE(ReadSatisfied(windowRule, 10, 10));
    EXPECT_TRUE(ReadSatisfied(windowRule, 0, 0));
    // Before the first byte only the total counts, after it the interval too.
    EXPECT_EQ(ReadDeadline(windowRule, t0, 0, t0), t0 + milliseconds(2200));
    EXPECT_EQ(ReadDeadline(windowRule, t0, 3, t0 + milliseconds(50)), t0 + milliseconds(250));
    EXPECT_EQ(ReadDeadline(windowRule, t0, 3, t0 + milliseconds(2100)), t0 + milliseconds(2200));

    const ReadRule first = MakeReadRule({MAXDWORD, MAXDWORD, 500, 0, 0}, 10);
    EXPECT_FALSE(ReadSatisfied(first, 10, 0));
    EXPECT_TRUE(ReadSatisfied(first, 10, 1));
    EXPECT_EQ(ReadDeadline(first, t0, 0, t0), t0 + milliseconds(500));

    const ReadRule none = MakeReadRule({0, 0, 0, 0, 0}, 10);
    EXPECT_EQ(ReadDeadline(none, t0, 5, t0), std::nullopt);
    EXPECT_TRUE(ReadSatisfied(MakeReadRule({MAXDWORD, 0, 0, 0, 0}, 10), 10, 0));
}

TEST(CommTimeouts, WriteTotal) {
    EXPECT_EQ(WriteTotal({0, 0, 0, 100, 1000}, 5), milliseconds(1500));
    EXPECT_EQ(WriteTotal({0, 0, 0, 0, 0}, 5), std::nullopt);
    EXPECT_EQ(WriteTotal({0, 0, 0, 0, 20}, 0), milliseconds(20));
}

}  // namespace
}  // namespace cport::device
