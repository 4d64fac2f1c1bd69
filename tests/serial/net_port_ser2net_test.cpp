// A port on the network against a real ser2net on 127.0.0.1 serving the
// simulator's pty: echo over RFC 2217 and raw TCP, settings made here read
// back from the pty's terminal settings, and ser2net stopped and started
// again with reconnect on and off.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include "serial/device/net/com_port_option.h"
#include "serial/port/com_parity.h"
#include "tests/base/qt_test_support.h"
#include "tests/serial/event_port.h"
#include "tests/serial/ser2net_process.h"
#include "tests/serial/termios2_probe.h"
#include "tools/simulator/simulator.h"

namespace cport::testutil {
namespace {

using tarvik::testing::App;
using tarvik::testing::RunEventLoopUntil;

void RunEventLoopFor(std::chrono::milliseconds period) {
    bool over = false;
    QTimer::singleShot(period, [&over] { over = true; });
    RunEventLoopUntil([&over] { return over; });
}

class Ser2netTest : public testing::Test {
  protected:
    void SetUp() override {
        App();
        folder_ = std::filesystem::temp_directory_path() /
                  ("tarvik-ser2net-" + std::to_string(getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        simulator_ = std::make_unique<tarvik::sim::Simulator>(tarvik::sim::Behaviour{});
        pty_ = simulator_->SlavePath();
        serving_ = std::thread([this] { simulator_->Run(); });
        ser2net_ = std::make_unique<Ser2net>(folder_.string(), pty_);
        ASSERT_TRUE(ser2net_->Start());
    }
    void TearDown() override {
        port_.Close();
        ser2net_.reset();
        simulator_->Stop();
        serving_.join();
        std::filesystem::remove_all(folder_);
    }

    void OpenPort(const std::string& url, bool reopen = false) {
        port_.SetPort(url);
        port_.SetEvents(TComEvents{evRxChar});
        port_.SetReopenOnReturn(reopen);
        port_.SetOnRxChar([this](QObject*, std::int32_t count) { received_ += port_.ReadBytes(count); });
        port_.SetOnLineEvent([this](QObject*, const LineEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        });
        port_.Open();
    }
    std::size_t Count(LineEventKind kind) {
        std::lock_guard lock(mutex_);
        return std::count_if(events_.begin(), events_.end(),
                             [kind](const LineEvent& e) { return e.kind == kind; });
    }
    std::uint32_t Unconfirmed() {
        std::lock_guard lock(mutex_);
        std::uint32_t bits = 0;
        for (const LineEvent& e : events_)
            if (e.kind == LineEventKind::kUnconfirmed) bits |= e.count;
        return bits;
    }
    bool Echoes(const std::string& bytes) {
        received_.clear();
        port_.WriteBytes(bytes);
        return RunEventLoopUntil([&] { return received_ == bytes; });
    }

    std::filesystem::path folder_;
    std::unique_ptr<tarvik::sim::Simulator> simulator_;
    std::string pty_;
    std::thread serving_;
    std::unique_ptr<Ser2net> ser2net_;
    EventPort port_;
    std::string received_;
    std::mutex mutex_;
    std::vector<LineEvent> events_;
};

TEST_F(Ser2netTest, EchoThroughRfc2217AndRawTcp) {
    const std::string bytes("hello \xFF\x00\xFF\xFF world\r\n", 18);
    for (const std::string& url : {ser2net_->Rfc2217Url(), ser2net_->RawUrl()}) {
        SCOPED_TRACE(url);
        OpenPort(url);
        EXPECT_TRUE(Echoes(bytes)) << received_;
        EXPECT_TRUE(Echoes(std::string(20000, '\xFF'))) << received_.size();
        const LineCounters counters = port_.Counters();
        EXPECT_EQ(counters.sent, counters.received);
        EXPECT_TRUE(port_.LastReadTimes().last.Valid());
        port_.Close();
        events_.clear();
        ASSERT_TRUE(ser2net_->WaitReleased());
    }
}

TEST_F(Ser2netTest, SettingsMadeHereReachThePtysTerminalSettings) {
    port_.SetBaudRate(br57600);
    port_.SetDataBits(dbSeven);
    port_.Parity().SetBits(prEven);
    OpenPort(ser2net_->Rfc2217Url());
    EXPECT_TRUE(Echoes("abc"));
    const int look = ::open(pty_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(look, 0);
    const TerminalLine line = ReadTerminalLine(look);
    ::close(look);
    EXPECT_EQ(line.outSpeed, 57600u);
    // ser2net confirms the rate, data size and parity; the pty's driver
    // itself keeps only the rate (it forces 8 data bits without parity,
    // whoever asks). DTR a pty cannot have: ser2net never confirms it, and
    // the port says so.
    const std::uint32_t unconfirmed = Unconfirmed();
    EXPECT_EQ(unconfirmed & (device::net::kSetBaudRate | device::net::kSetDataSize |
                             device::net::kSetParity | device::net::kSetStopSize),
              0u);
    EXPECT_NE(unconfirmed & device::net::kSetDtr, 0u);

    // Changed while open, it goes to the pty too.
    port_.SetBaudRate(br19200);
    const int again = ::open(pty_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_EQ(TerminalOutputSpeed(again), 19200u);
    ::close(again);
}

TEST_F(Ser2netTest, Ser2netStoppedAndStartedAgain) {
    port_.SetBaudRate(br57600);  // ser2net's own is 9600: the port's settings come back
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect);
        OpenPort(ser2net_->Rfc2217Url(), reconnect);
        ASSERT_TRUE(Echoes("before"));
        ser2net_->Stop();
        ASSERT_TRUE(RunEventLoopUntil([&] { return Count(LineEventKind::kLost) == 1; }));
        EXPECT_TRUE(port_.LineLost());
        RunEventLoopFor(std::chrono::milliseconds(600));  // a connection tried and refused
        ASSERT_TRUE(ser2net_->Start());
        if (reconnect) {
            ASSERT_TRUE(RunEventLoopUntil([&] { return Count(LineEventKind::kBack) == 1; }));
            EXPECT_FALSE(port_.LineLost());
            EXPECT_TRUE(Echoes("after"));
            const int look = ::open(pty_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            EXPECT_EQ(TerminalOutputSpeed(look), 57600u);
            ::close(look);
        } else {
            RunEventLoopFor(std::chrono::milliseconds(600));
            EXPECT_TRUE(port_.LineLost());
            EXPECT_EQ(Count(LineEventKind::kBack), 0u);
        }
        EXPECT_EQ(Count(LineEventKind::kLost), 1u);
        port_.Close();
        events_.clear();
        ASSERT_TRUE(ser2net_->WaitReleased());
    }
}

}  // namespace
}  // namespace cport::testutil
