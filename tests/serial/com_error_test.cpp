#include "serial/error/com_error.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "serial/port/com_os_values.h"

namespace cport {
namespace {

// No catalog is loaded in this process: the English texts appear unchanged.
TEST(ComError, WithoutNumber) {
    const EComPort e(ecConnectedChange);
    EXPECT_EQ(e.ErrorCode(), 14);
    EXPECT_EQ(e.WinErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
}

TEST(ComError, WithNumber) {
    struct Row {
        std::int32_t code;
        std::int32_t number;
        const char* message;
    };
    const Row rows[] = {
        {1, 2, "Unable to open com port (win error code: 2)"},
        {7, 87, "SetCommState function failed (win error code: 87)"},
        {23, 0, "Registry error (win error code: 0)"},
        {5, -1, "PurgeComm function failed (win error code: -1)"},
        {9, -2147483647 - 1, "SetupComm function failed (win error code: -2147483648)"},
    };
    for (const auto& row : rows) {
        const EComPort e(row.code, row.number);
        EXPECT_EQ(e.ErrorCode(), row.code);
        EXPECT_EQ(e.WinErrorCode(), row.number);
        EXPECT_STREQ(e.what(), row.message);
    }
}

TEST(ComError, TheTwentyThreeTexts) {
    EXPECT_STREQ(ComErrorText(4), "Invalid Async parameter");
    EXPECT_STREQ(ComErrorText(18), "Link (un)registration failed");
    EXPECT_STREQ(ComErrorText(22), "A component is linked to OnRxBuf event");
    for (std::int32_t code = 1; code <= kComErrorCount; ++code) {
        ASSERT_NE(ComErrorText(code), nullptr);
        EXPECT_EQ(ErrorMessages(code), ComErrorText(code));
        EXPECT_EQ(EComPort(code).what(), ErrorMessages(code));
    }
    EXPECT_EQ(ComErrorText(0), nullptr);
    EXPECT_EQ(ComErrorText(24), nullptr);
    EXPECT_THROW(ErrorMessages(0), std::out_of_range);
    EXPECT_THROW(ErrorMessages(24), std::out_of_range);
}

TEST(ComError, UnknownCodeStillReadable) {
    EXPECT_STREQ(EComPort(99).what(), "Unknown com port error 99");
}

TEST(ComOsValues, Tables) {
    EXPECT_EQ(BaudRateToBps(br110, 1), 110);
    EXPECT_EQ(BaudRateToBps(br56000, 1), 56000);
    EXPECT_EQ(BaudRateToBps(br256000, 1), 256000);
    EXPECT_EQ(BaudRateToBps(brCustom, 1200), 1200);
    EXPECT_EQ(StopBitsToOs(sbTwoStopBits), 2);
    EXPECT_EQ(DataBitsToOs(dbFive), 5);
    EXPECT_EQ(DataBitsToOs(dbEight), 8);
    EXPECT_EQ(ParityToOs(prSpace), 4);
    EXPECT_EQ(DTRControlToOs(dtrHandshake), 2);
    EXPECT_EQ(RTSControlToOs(rtsToggle), 3);
    EXPECT_THROW(ParityToOs(static_cast<TParityBits>(5)), std::out_of_range);
}

TEST(ComOsValues, EventMask) {
    EXPECT_EQ(EventsToMask(kAllComEvents), 0x05FFu);
    EXPECT_EQ(EventsToMask({evRxChar}), 0x0001u);
    EXPECT_EQ(EventsToMask({evTxEmpty, evRxFlag}), 0x0006u);
    EXPECT_EQ(EventsToMask({evError, evRLSD, evRx80Full}), 0x04A0u);
    EXPECT_EQ(MaskToEvents(0x0100), TComEvents{evRing});
    EXPECT_EQ(MaskToEvents(0x0040 | 0x0008 | 0x0010), (TComEvents{evBreak, evCTS, evDSR}));
    // Bits that stand for no event are dropped.
    EXPECT_EQ(MaskToEvents(0xFFFFFFFF), kAllComEvents);
    EXPECT_TRUE(MaskToEvents(0x0200 | 0x0800).Empty());
    for (int i = 0; i < kComEventCount; ++i) {
        const auto e = static_cast<TComEvent>(i);
        EXPECT_EQ(MaskToEvents(EventMaskBit(e)), TComEvents{e});
    }
}

}  // namespace
}  // namespace cport
