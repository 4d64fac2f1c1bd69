// The port over the Linux device on real pseudo-terminals: the test holds the
// master side, the port opens the slave path.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/port/com_timeouts.h"
#include "tests/serial/port_fixtures.h"
#include "tests/serial/termios2_probe.h"
#include "tests/serial_device/pty_fixture.h"

namespace cport {
namespace {

using testutil::Raised;
using Calls = std::vector<std::string>;

std::string EveryByte() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    return bytes;
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

class PortOverPty : public device::PtyTest {
  protected:
    void SetUp() override {
        PtyTest::SetUp();
        port.SetDevice(dev_);
        port.SetPort(path_);
        port.SetEvents({});  // no event thread: the transfers are the point here
        testutil::RecordOpenClose(port, seen);
    }
    void TearDown() override {
        if (port.Connected())
            port.Close();
        PtyTest::TearDown();
    }

    // The read time-outs the main window uses: 200 ms between bytes,
    // 200 ms per byte asked for plus 200 ms.
    void UseWindowTimeouts() {
        port.Timeouts().SetReadInterval(200);
        port.Timeouts().SetReadTotalMultiplier(200);
        port.Timeouts().SetReadTotalConstant(200);
    }

    std::vector<std::string> seen;
    TComPort port;
};

TEST_F(PortOverPty, OpensAndCloses) {
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_NE(port.Handle(), device::INVALID_HANDLE_VALUE);
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
    EXPECT_EQ(seen, (Calls{"before open", "after open", "before close", "after close"}));

    // The line is free again.
    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortOverPty, EveryByteValueRoundTrips) {
    UseWindowTimeouts();
    port.Open();
    const std::string bytes = EveryByte();
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(port.Write(bytes.data(), 256), 256);
        EXPECT_EQ(MasterRead(256), bytes);

        MasterWrite(bytes);
        tarvik::Text text;
        EXPECT_EQ(port.ReadText(text, 256), 256);
        EXPECT_EQ(text, bytes);
    }
}

TEST_F(PortOverPty, LargeBlocksPassBothWays) {
    UseWindowTimeouts();
    port.Open();
    const std::string bytes = Pattern(300000);

    std::string echoed;
    std::thread reader([&] { echoed = MasterRead(bytes.size()); });
    EXPECT_EQ(port.Write(bytes.data(), static_cast<std::int32_t>(bytes.size())),
              static_cast<std::int32_t>(bytes.size()));
    reader.join();
    EXPECT_TRUE(echoed == bytes) << "written bytes differ";

    std::thread writer([&] { MasterWrite(bytes); });
    tarvik::Text text;
    const std::int32_t n = port.ReadText(text, static_cast<std::int32_t>(bytes.size()));
    writer.join();
    EXPECT_EQ(n, static_cast<std::int32_t>(bytes.size()));
    EXPECT_TRUE(text == bytes) << "read bytes differ";
}

TEST_F(PortOverPty, ReadTextStopsAtTheTimeoutsWithExactlyWhatCame) {
    UseWindowTimeouts();
    port.Open();
    const std::string sent("\x00\x01\xFE\xFFhello\r\n", 11);
    MasterWrite(sent);
    tarvik::Text text = "previous";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadText(text, 100), 11);
    // Well before the total limit (200 ms x 100 + 200 ms): the gap ended it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(text, sent);

    // Nothing at all: the total limit ends it with nothing.
    EXPECT_EQ(port.ReadText(text, 2), 0);
    EXPECT_TRUE(text.empty());
}

TEST_F(PortOverPty, ReadTextForTheWaitingCountReturnsThoseBytes) {
    UseWindowTimeouts();
    port.Open();
    MasterWrite("0123456");
    ASSERT_TRUE(device::WaitUntil([&] { return port.BytesWaiting() == 7; }));
    tarvik::Text text;
    EXPECT_EQ(port.ReadText(text, port.BytesWaiting()), 7);
    EXPECT_EQ(text, "0123456");
    EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST_F(PortOverPty, CountZeroMovesNothing) {
    UseWindowTimeouts();
    port.Open();
    MasterWrite("x");
    ASSERT_TRUE(device::WaitUntil([&] { return port.BytesWaiting() == 1; }));
    tarvik::Text text = "stale";
    EXPECT_EQ(port.ReadText(text, 0), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(port.Write("", 0), 0);
    EXPECT_EQ(port.BytesWaiting(), 1);  // the waiting byte stayed
}

TEST_F(PortOverPty, SecondOpenIsRefusedWithCodeOne) {
    port.Open();
    TComPort second;
    second.SetDevice(dev_);
    second.SetPort(path_);
    second.SetEvents({});
    const auto error = Raised([&] { second.Open(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecOpen);
    EXPECT_TRUE(error->WinErrorCode() == EWOULDBLOCK || error->WinErrorCode() == EBUSY)
        << error->WinErrorCode();
    EXPECT_FALSE(second.Connected());
    // The first port is untouched.
    EXPECT_EQ(port.Write("ok", 2), 2);
    EXPECT_EQ(MasterRead(2), "ok");
}

TEST_F(PortOverPty, CustomBaudRateReachesTheTerminal) {
    port.SetCustomBaudRate(123457);
    port.SetBaudRate(brCustom);
    port.Open();
    EXPECT_EQ(testutil::TerminalOutputSpeed(slave_), 123457u);
    // Changes on the open line go through as well.
    port.SetCustomBaudRate(250000);
    EXPECT_EQ(testutil::TerminalOutputSpeed(slave_), 250000u);
    port.SetBaudRate(br57600);
    EXPECT_EQ(testutil::TerminalOutputSpeed(slave_), 57600u);
}

TEST_F(PortOverPty, HangUpFailsReadsAndWritesThenCloseWorks) {
    UseWindowTimeouts();
    port.Open();
    CloseMaster();
    const auto write = Raised([&] { port.Write("abc", 3); });
    ASSERT_TRUE(write);
    EXPECT_EQ(write->ErrorCode(), ecWrite);
    EXPECT_EQ(write->WinErrorCode(), EIO);
    tarvik::Text text;
    const auto read = Raised([&] { port.ReadText(text, 10); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ErrorCode(), ecRead);
    EXPECT_GT(read->WinErrorCode(), 0);
    EXPECT_TRUE(text.empty());

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
}

TEST_F(PortOverPty, OpenFailureLeavesPortClosed) {
    port.SetPort("/dev/tarvik-no-such-port");
    const auto error = Raised([&] { port.Open(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecOpen);
    EXPECT_EQ(error->WinErrorCode(), ENOENT);
    EXPECT_STREQ(error->what(), "Unable to open com port (win error code: 2)");
    EXPECT_EQ(seen, Calls{"before open"});
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace cport
