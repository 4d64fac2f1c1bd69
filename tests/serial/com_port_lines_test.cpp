// DTR, RTS and break: over the fake, which has modem lines and records what
// the port asked for, and over a pty, which has neither and must say so.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "serial/port/com_flow_control.h"
#include "serial/device/fake_com_device.h"
#include "tests/serial/port_fixtures.h"
#include "tests/serial_device/pty_fixture.h"

namespace cport {
namespace {

using device::FakeComDevice;
using device::SERIAL_DTR_STATE;
using device::SERIAL_RTS_STATE;
using testutil::Raised;

class LinesOverFake : public testing::Test {
  protected:
    LinesOverFake() {
        port.SetDevice(fake);
        port.SetPort("COM3");
        port.SetEvents({});
    }
    std::vector<std::string> Escapes() const {
        std::vector<std::string> out;
        for (const std::string& call : fake.Calls()) {
            if (call.rfind("EscapeCommFunction(", 0) == 0)
                out.push_back(call);
        }
        return out;
    }
    FakeComDevice fake;
    TComPort port;
};

// Opening raises no line of its own accord: the states are those the two
// controls name, set through the line settings alone.
TEST_F(LinesOverFake, OpenSetsOnlyWhatTheControlsSay) {
    struct Row {
        TDTRFlowControl dtr;
        TRTSFlowControl rts;
        std::uint32_t lines;
    };
    const Row rows[] = {{dtrDisable, rtsDisable, 0},
                        {dtrEnable, rtsDisable, SERIAL_DTR_STATE},
                        {dtrDisable, rtsEnable, SERIAL_RTS_STATE},
                        {dtrEnable, rtsEnable, SERIAL_DTR_STATE | SERIAL_RTS_STATE},
                        {dtrDisable, rtsHandshake, 0}};
    for (const Row& row : rows) {
        port.FlowControl().SetControlDTR(row.dtr);
        port.FlowControl().SetControlRTS(row.rts);
        port.Open();
        EXPECT_EQ(fake.OutputLines(), row.lines) << row.dtr << "," << row.rts;
        EXPECT_EQ(port.DTR(), (row.lines & SERIAL_DTR_STATE) != 0);
        EXPECT_EQ(port.RTS(), (row.lines & SERIAL_RTS_STATE) != 0);
        port.Close();
    }
    EXPECT_TRUE(Escapes().empty());
}

TEST_F(LinesOverFake, LinesSwitchAtOnceAndReadBack) {
    port.Open();
    port.SetDTR(true);
    EXPECT_TRUE(port.DTR());
    EXPECT_FALSE(port.RTS());
    port.SetRTS(true);
    EXPECT_TRUE(port.RTS());
    port.SetDTR(false);
    EXPECT_FALSE(port.DTR());
    EXPECT_TRUE(port.RTS());
    // A re-apply of the line settings puts the lines back where the controls say.
    port.SetBaudRate(br38400);
    EXPECT_EQ(fake.OutputLines(), 0u);

    port.SetBreak(true);
    EXPECT_TRUE(fake.BreakOn());
    port.SetBreak(false);
    EXPECT_FALSE(fake.BreakOn());
    const auto start = std::chrono::steady_clock::now();
    port.SendBreak(std::chrono::milliseconds(20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_FALSE(fake.BreakOn());
    EXPECT_EQ(Escapes(), (std::vector<std::string>{"EscapeCommFunction(5)", "EscapeCommFunction(3)",
                                                   "EscapeCommFunction(6)", "EscapeCommFunction(8)",
                                                   "EscapeCommFunction(9)", "EscapeCommFunction(8)",
                                                   "EscapeCommFunction(9)"}));
    EXPECT_EQ(TCustomComPort::kDefaultBreak, std::chrono::milliseconds(250));
}

TEST_F(LinesOverFake, RefusalsRaiseWithTheNumber) {
    // Closed: nothing to switch.
    auto closed = Raised([&] { port.SetDTR(true); });
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->ErrorCode(), ecEscape);
    EXPECT_EQ(closed->WinErrorCode(), EBADF);

    port.Open();
    fake.FailCall("EscapeCommFunction", EIO, 1);
    auto refused = Raised([&] { port.SetRTS(true); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->ErrorCode(), ecEscape);
    EXPECT_EQ(refused->WinErrorCode(), EIO);

    fake.FailCall("GetCommOutputLines", ENOTTY, 1);
    auto query = Raised([&] { (void)port.DTR(); });
    ASSERT_TRUE(query);
    EXPECT_EQ(query->ErrorCode(), ecModemStatus);
    EXPECT_EQ(query->WinErrorCode(), ENOTTY);

    auto negative = Raised([&] { port.SendBreak(std::chrono::milliseconds(-1)); });
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->WinErrorCode(), EINVAL);
    EXPECT_FALSE(fake.BreakOn());
    EXPECT_TRUE(port.Connected());
}

class LinesOverPty : public device::PtyTest {
  protected:
    void SetUp() override {
        PtyTest::SetUp();
        port.SetDevice(dev_);
        port.SetPort(path_);
        port.SetEvents({});
    }
    void TearDown() override {
        port.Close();
        PtyTest::TearDown();
    }
    TComPort port;
};

// A pty has no modem lines and no break: every request gets ENOTTY, none
// crashes or pretends, and the line goes on working.
TEST_F(LinesOverPty, NoModemLinesIsAClearAnswer) {
    port.Open();
    const std::vector<std::pair<const char*, std::function<void()>>> requests = {
        {"SetDTR", [&] { port.SetDTR(true); }},
        {"SetRTS", [&] { port.SetRTS(false); }},
        {"DTR", [&] { (void)port.DTR(); }},
        {"RTS", [&] { (void)port.RTS(); }},
        {"SendBreak", [&] { port.SendBreak(std::chrono::milliseconds(1)); }},
        {"SetBreak", [&] { port.SetBreak(true); }},
    };
    for (const auto& [name, request] : requests) {
        auto error = Raised(request);
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->WinErrorCode(), ENOTTY) << name;
    }
    EXPECT_EQ(port.Write("ok", 2), 2);
    EXPECT_EQ(MasterRead(2), "ok");
}

}  // namespace
}  // namespace cport
