// The port's time line: line events with their times through each hand-over
// (the fake device scripts what a pty has not: modem lines, breaks, errors,
// kernel counts), transfer times and counters, nothing new asked of the
// device while nothing new is used, and a line lost and back through a link
// on real pseudo-terminals (one of them the simulator's, unplugged and
// plugged in again).

#include <fcntl.h>
#include <gmock/gmock.h>
#include <pty.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "serial/port/com_thread.h"
#include "serial/device/fake_com_device.h"
#include "serial/ports/awaited_device.h"
#include "serial/ports/line_return_watcher.h"
#include "tests/base/qt_test_support.h"
#include "tests/serial/event_port.h"
#include "tests/serial/termios2_probe.h"
#include "tools/simulator/simulator.h"

namespace cport::testutil {
namespace {

using namespace device;
using tarvik::testing::App;
using tarvik::testing::RunEventLoopUntil;
using tarvik::testing::WaitUntil;
using Names = std::vector<std::string>;

// The line events a port sent, in order. Main thread (or any, under smNone).
class EventLog {
  public:
    void Attach(TCustomComPort& port) {
        port.SetOnLineEvent([this](QObject*, const LineEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        });
    }
    std::vector<LineEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    Names KindNames() const {
        testutil::Names names;
        for (const LineEvent& event : Events()) names.push_back(LineEventName(event.kind));
        return names;
    }
    std::size_t Count(LineEventKind kind) const {
        const auto events = Events();
        return std::count_if(events.begin(), events.end(),
                             [kind](const LineEvent& e) { return e.kind == kind; });
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LineEvent> events_;
};

bool WaitFor(TSyncMethod method, const std::function<bool()>& done) {
    return method == smNone ? WaitUntil(done) : RunEventLoopUntil(done);
}

void RunEventLoopFor(std::chrono::milliseconds period) {
    bool over = false;
    QTimer::singleShot(period, [&over] { over = true; });
    RunEventLoopUntil([&over] { return over; });
}

bool BlockedInPoll(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    file >> number;
    return number == SYS_ppoll || number == SYS_poll;
}

class PortTimeLineTest : public testing::Test {
  protected:
    void SetUp() override { App(); }

    EventPort port_;
    FakeComDevice fake_;
    EventLog log_;
};

TEST_F(PortTimeLineTest, LineEventsReachTheHandlerWithTheirTimesUnderEachSyncMethod) {
    const LineTime t1{1000, 1'700'000'000'000'000}, t2{1500, 1'700'000'000'000'500};
    const std::vector<LineEvent> scripted = {
        {LineEventKind::kCts, t1, true, 0, {}},
        {LineEventKind::kBreak, t1, false, 2, {}},
        {LineEventKind::kFrame, t2, false, 1, {}},
        {LineEventKind::kRlsd, t2, false, 0, {}},
    };
    for (const TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(static_cast<int>(method));
        EventPort port;
        EventLog log;
        port.SetDevice(fake_);
        port.SetPort("COM3");
        port.SetEvents({});  // the handler alone makes the thread
        port.SetSyncMethod(method);
        log.Attach(port);
        port.Open();
        ASSERT_NE(port.EventThread(), nullptr);
        EXPECT_EQ(fake_.Mask(), EV_LINEEVENT);
        for (const LineEvent& event : scripted) fake_.PushLineEvent(event);
        ASSERT_TRUE(WaitFor(method, [&] { return log.Events().size() >= 1 + scripted.size(); }));
        port.Close();
        const auto events = log.Events();
        ASSERT_EQ(events.size(), scripted.size() + 2);
        EXPECT_EQ(events.front().kind, LineEventKind::kOpened);
        EXPECT_EQ(events.back().kind, LineEventKind::kClosed);
        EXPECT_LE(events.front().time.monoUs, events.back().time.monoUs);
        for (std::size_t i = 0; i < scripted.size(); ++i) {
            EXPECT_EQ(events[i + 1].kind, scripted[i].kind);
            EXPECT_EQ(events[i + 1].time, scripted[i].time);
            EXPECT_EQ(events[i + 1].state, scripted[i].state);
            EXPECT_EQ(events[i + 1].count, scripted[i].count);
        }
    }
}

TEST_F(PortTimeLineTest, WithNothingNewUsedTheDeviceIsAskedNothingNew) {
    struct Row {
        TComEvents events;
        bool handler;
        bool reopen;
        bool thread;
        std::uint32_t mask;  // 0: SetCommMask never called
    };
    const Row rows[] = {
        {{}, false, false, false, 0},
        {TComEvents{evRxChar}, false, false, true, EV_RXCHAR},
        {TComEvents{evRxChar}, true, false, true, EV_RXCHAR | EV_LINEEVENT},
        {{}, false, true, true, EV_LINEEVENT},
    };
    for (const Row& row : rows) {
        EventPort port;
        FakeComDevice fake;
        port.SetDevice(fake);
        port.SetEvents(row.events);
        if (row.handler)
            log_.Attach(port);
        port.SetReopenOnReturn(row.reopen);
        port.Open();
        EXPECT_EQ(port.EventThread() != nullptr, row.thread);
        EXPECT_EQ(fake.Mask(), row.mask);
        EXPECT_EQ(fake.CallCount("SetCommMask"), row.mask != 0 ? 1 : 0);
        port.Close();
    }
}

TEST_F(PortTimeLineTest, TransferTimesAndCountersSinceOpen) {
    port_.SetDevice(fake_);
    port_.SetEvents({});
    EXPECT_FALSE(port_.LastReadTimes().first.Valid());  // closed
    port_.Open();
    EXPECT_FALSE(port_.LastReadTimes().first.Valid());  // nothing read yet
    const LineTime t1{5000, 1'700'000'000'000'000}, t2{5600, 1'700'000'000'000'600};
    fake_.PushInputAt("abc", t1);
    fake_.PushInputAt("de", t2);
    EXPECT_EQ(port_.ReadBytes(4), "abcd");
    TransferTimes read = port_.LastReadTimes();
    EXPECT_EQ(read.first, t1);
    EXPECT_EQ(read.last, t2);
    EXPECT_EQ(read.bytes, 4u);
    EXPECT_EQ(port_.ReadBytes(4), "e");
    read = port_.LastReadTimes();
    EXPECT_EQ(read.first, t2);
    EXPECT_EQ(read.last, t2);

    const std::int64_t before = LineClock::Raw().monoUs;
    port_.WriteBytes("hello");
    const TransferTimes sent = port_.LastWriteTimes();
    EXPECT_EQ(sent.bytes, 5u);
    EXPECT_LE(before, sent.first.monoUs);
    EXPECT_LE(sent.first.monoUs, sent.last.monoUs);

    LineCounters counters = port_.Counters();
    EXPECT_EQ(counters.received, 5u);
    EXPECT_EQ(counters.sent, 5u);
    EXPECT_FALSE(counters.kernel.has_value());
    fake_.SetKernelCounters(LineCounters::Kernel{1, 2, 3, 4, 5});
    counters = port_.Counters();
    ASSERT_TRUE(counters.kernel.has_value());
    EXPECT_EQ(counters.kernel->frame, 1u);
    EXPECT_EQ(counters.kernel->bufferOverrun, 5u);
    port_.Close();
    EXPECT_EQ(port_.Counters().received, 0u);
}

class LostLineTest : public PortTimeLineTest {
  protected:
    void SetUp() override {
        PortTimeLineTest::SetUp();
        folder_ = std::filesystem::temp_directory_path() /
                  ("tarvik-link-" + std::to_string(getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        link_ = folder_ / "line";
    }
    void TearDown() override {
        if (simulator_) {
            simulator_->Stop();
            serving_.join();
        }
        std::filesystem::remove_all(folder_);
    }

    // An echoing simulator whose pty the link follows through unplug and replug.
    void StartSimulator() {
        tarvik::sim::Plugging plugging;
        plugging.linkPath = link_.string();
        simulator_ =
            std::make_unique<tarvik::sim::Simulator>(tarvik::sim::Behaviour{}, std::move(plugging));
        serving_ = std::thread([this] { simulator_->Run(); });
    }

    void OpenOnLink(bool reopen) {
        port_.SetPort(link_.string());
        port_.SetBaudRate(br57600);
        port_.SetEvents(TComEvents{evRxChar});
        port_.SetReopenOnReturn(reopen);
        EventPort* port = &port_;
        port_.SetOnRxChar(
            [this, port](QObject*, std::int32_t count) { received_ += port->ReadBytes(count); });
        log_.Attach(port_);
        port_.Open();
    }

    std::filesystem::path folder_, link_;
    std::string received_;
    std::unique_ptr<tarvik::sim::Simulator> simulator_;
    std::thread serving_;
};

TEST_F(LostLineTest, ALostLineIsReportedOnceAndCloseWorksAtOnceWithoutASpin) {
    StartSimulator();
    OpenOnLink(false);
    port_.WriteBytes("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return received_ == "a"; }));
    const std::int64_t before = LineClock::Raw().monoUs;
    simulator_->Unplug();
    ASSERT_TRUE(RunEventLoopUntil([&] { return log_.Count(LineEventKind::kLost) == 1; }));
    EXPECT_TRUE(port_.LineLost());
    EXPECT_TRUE(port_.Connected());
    const auto events = log_.Events();
    const auto lost = std::find_if(events.begin(), events.end(), [](const LineEvent& e) {
        return e.kind == LineEventKind::kLost;
    });
    EXPECT_GE(lost->time.monoUs, before);
    // The event thread sleeps in its wait and stays there.
    const pid_t tid = port_.EventThread()->ThreadId();
    ASSERT_TRUE(WaitUntil([&] { return BlockedInPoll(tid); }));
    const long switches = VoluntarySwitches(tid);
    RunEventLoopFor(std::chrono::milliseconds(200));
    EXPECT_EQ(VoluntarySwitches(tid), switches);
    EXPECT_TRUE(BlockedInPoll(tid));
    EXPECT_EQ(log_.Count(LineEventKind::kLost), 1u);
    port_.Close();
    EXPECT_FALSE(port_.Connected());
    EXPECT_EQ(log_.KindNames().back(), "closed");
}

TEST_F(LostLineTest, UnpluggedAndRepluggedThroughTheSimulatorsLinkThePortComesBack) {
    StartSimulator();
    OpenOnLink(true);
    EXPECT_EQ(port_.ReturnPath(), link_.string());  // no by-id name for a pty
    port_.WriteBytes("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return received_ == "a"; }));
    simulator_->Unplug();
    ASSERT_TRUE(RunEventLoopUntil([&] { return log_.Count(LineEventKind::kLost) == 1; }));
    // Still away: the link is gone, opening it is tried and refused.
    RunEventLoopFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(port_.LineLost());
    EXPECT_TRUE(port_.Connected());

    simulator_->Replug();
    ASSERT_TRUE(RunEventLoopUntil([&] { return log_.Count(LineEventKind::kBack) == 1; }));
    EXPECT_FALSE(port_.LineLost());
    EXPECT_TRUE(port_.Connected());
    // The new pty has the port's settings, and the line works both ways.
    const int look = ::open(link_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(look, 0);
    EXPECT_EQ(TerminalOutputSpeed(look), 57600u);
    ::close(look);
    port_.WriteBytes("bc");
    ASSERT_TRUE(RunEventLoopUntil([&] { return received_ == "abc"; }));

    port_.Close();
    EXPECT_EQ(log_.Count(LineEventKind::kLost), 1u);
    Names main;
    for (const std::string& name : log_.KindNames()) {
        if (name != "no line events")
            main.push_back(name);
    }
    EXPECT_EQ(main, (Names{"opened", "line lost", "back", "closed"}));
}

// The link's maker was killed: the link is left leading to the lost pty's
// name, and an unrelated new pty takes that number. The port waits for the
// link to be made again and comes back only on the pty it then leads to.
TEST_F(LostLineTest, ADanglingLinkIsWaitedForNotTheDeviceThatTookItsName) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    std::filesystem::create_symlink(name, link_);
    OpenOnLink(true);
    EXPECT_EQ(port_.AwaitedReturn(),
              "waiting for the link " + link_.string() + " to be made again");
    ::close(master);
    ASSERT_TRUE(RunEventLoopUntil([&] { return log_.Count(LineEventKind::kLost) == 1; }));
    // Once the port has let go of the old pty, a new one gets its number
    // (unless another program's took it first).
    int foreign = -1;
    ASSERT_TRUE(RunEventLoopUntil([&] {
        int m = -1;
        int s = -1;
        char other[256] = {};
        if (openpty(&m, &s, other, nullptr, nullptr) != 0)
            return false;
        ::close(s);
        if (std::string(other) == name) {
            foreign = m;
            return true;
        }
        ::close(m);
        return access(name, F_OK) == 0;
    }));
    // A change in the link's folder makes the port look again.
    std::ofstream(folder_ / "nudge") << "";
    RunEventLoopFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(port_.LineLost());
    EXPECT_EQ(log_.Count(LineEventKind::kBack), 0u);

    // Its maker makes the link again, to a new pty.
    int fresh = -1;
    char freshName[256] = {};
    ASSERT_EQ(openpty(&fresh, &slave, freshName, nullptr, nullptr), 0);
    ::close(slave);
    std::filesystem::create_symlink(freshName, folder_ / "line.new");
    std::filesystem::rename(folder_ / "line.new", link_);
    ASSERT_TRUE(RunEventLoopUntil([&] { return log_.Count(LineEventKind::kBack) == 1; }));
    port_.WriteBytes("x");
    char got = 0;
    ASSERT_TRUE(WaitUntil([&] { return ::read(fresh, &got, 1) == 1; }));
    EXPECT_EQ(got, 'x');
    port_.Close();
    if (foreign >= 0) {
        fcntl(foreign, F_SETFL, O_NONBLOCK);
        EXPECT_EQ(::read(foreign, &got, 1), -1);  // nothing reached it
        ::close(foreign);
    }
    ::close(fresh);
}

TEST(AwaitedDeviceTest, APseudoTerminalByItsOwnNameIsNeverOpenedAgain) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    const AwaitedDevice awaited = AwaitDevice(name);
    EXPECT_EQ(awaited.kind, AwaitedDevice::Kind::kNever);
    EXPECT_FALSE(HasReturned(awaited));  // though the name is there
    EXPECT_THAT(DescribeAwaited(awaited),
                testing::StartsWith(std::string("not waiting: the pseudo-terminal ") + name));
    ::close(master);
}

TEST_F(LostLineTest, TheReturnWatcherFollowsFoldersThatAppearOnTheWay) {
    const std::filesystem::path sub = folder_ / "by-id";
    int changes = 0;
    TLineReturnWatcher watcher((sub / "usb-Adapter").string(), [&] { ++changes; });
    EXPECT_EQ(watcher.Watched(), folder_.string());  // the nearest that exists
    std::filesystem::create_directory(sub);
    ASSERT_TRUE(RunEventLoopUntil([&] { return changes == 1; }));
    EXPECT_EQ(watcher.Watched(), sub.string());
    std::filesystem::create_symlink("/dev/null", sub / "usb-Adapter");
    ASSERT_TRUE(RunEventLoopUntil([&] { return changes == 2; }));
    // The folder goes again: the watch moves back up.
    std::filesystem::remove_all(sub);
    ASSERT_TRUE(RunEventLoopUntil([&] { return watcher.Watched() == folder_.string(); }));
}

}  // namespace
}  // namespace cport::testutil
