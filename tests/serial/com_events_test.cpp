// Event delivery of the port: the open and close steps, the event thread over
// pseudo-terminals (and the fake device where a pty has no such line), the
// three sync methods, raising handlers, closing during a hand-over, and what
// an idle or hung-up port costs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "base/main_thread.h"
#include "serial/port/com_os_values.h"
#include "serial/port/com_thread.h"
#include "serial/device/fake_com_device.h"
#include "tests/base/qt_test_support.h"
#include "tests/serial/event_port.h"

namespace cport::testutil {
namespace {

using namespace device;
using tarvik::testing::App;
using tarvik::testing::RunEventLoopUntil;
using tarvik::testing::WaitUntil;
using Calls = std::vector<std::string>;

const TComEvents kNoEvents;

const char* MethodName(TSyncMethod method) {
    switch (method) {
        case smThreadSync:
            return "ThreadSync";
        case smWindowSync:
            return "WindowSync";
        case smNone:
            return "None";
    }
    return "?";
}

// Handlers run on the main thread through its event loop, except under
// smNone, where the test only waits.
bool WaitFor(TSyncMethod method, const std::function<bool()>& done) {
    return method == smNone ? WaitUntil(done) : RunEventLoopUntil(done);
}

bool WaitForCalls(TSyncMethod method, const Recorder& recorder, std::size_t count) {
    return WaitFor(method, [&] { return recorder.Size() >= count; });
}

// Runs the event loop for a while: a measuring period, not a synchronisation.
void RunEventLoopFor(std::chrono::milliseconds period) {
    bool over = false;
    QTimer::singleShot(period, [&over] { over = true; });
    RunEventLoopUntil([&over] { return over; });
}

// True while the thread sleeps in the device wait (a poll system call).
bool BlockedInPoll(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    file >> number;
    return number == SYS_ppoll || number == SYS_poll;
}

std::uint64_t CallsPlaced() {
    return tarvik::GetMainThreadCallStats().placed;
}

class PortEventsTest : public testing::Test {
  protected:
    void SetUp() override {
        tarvik::testing::App();
        errorsBefore_ = App().errors.size();
    }

    // Opens port on the pty (or the fake when given) with events and method.
    void OpenOn(EventPort& port, const std::string& name, TComEvents events, TSyncMethod method) {
        port.SetPort(name);
        port.SetEvents(events);
        port.SetSyncMethod(method);
        port.Open();
    }

    std::size_t NewErrors() const { return App().errors.size() - errorsBefore_; }

    Pty pty_;
    FakeComDevice fake_;
    Recorder recorder_;
    std::size_t errorsBefore_ = 0;
};

// --- Opening and closing steps.

struct StepsCase {
    const char* name;
    bool fake;
    TComEvents events;
    std::uint32_t modemLines;  // fake only
    Calls opened;
};

TEST_F(PortEventsTest, OpenAndCloseRunTheirStepsInOrder) {
    const Calls closed{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose"};
    const StepsCase cases[] = {
        {"pty, all events",
         false,
         kAllComEvents,
         0,
         {"BeforeOpen", "AfterOpen", "CTS 0", "DSR 0", "RLSD 0"}},
        {"pty, no events",
         false,
         kNoEvents,
         0,
         {"BeforeOpen", "AfterOpen", "CTS 0", "DSR 0", "RLSD 0"}},
        {"fake, no events, CTS and RLSD on",
         true,
         kNoEvents,
         MS_CTS_ON | MS_RLSD_ON,
         {"BeforeOpen", "AfterOpen", "CTS 1", "DSR 0", "RLSD 1"}},
        {"fake, evRxChar, DSR on",
         true,
         TComEvents{evRxChar},
         MS_DSR_ON,
         {"BeforeOpen", "AfterOpen", "CTS 0", "DSR 1", "RLSD 0"}},
    };
    for (const StepsCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeComDevice fake;
        fake.SetModemStatus(c.modemLines);
        Recorder recorder;
        EventPort port;
        if (c.fake)
            port.SetDevice(fake);
        RecordAll(port, recorder);
        OpenOn(port, c.fake ? "COM3" : pty_.SlavePath(), c.events, smThreadSync);
        EXPECT_EQ(recorder.Calls(), c.opened);
        EXPECT_EQ(port.EventThread() != nullptr, !c.events.Empty());
        if (c.fake) {
            // No thread, no mask, no events; a thread sets exactly its mask.
            EXPECT_EQ(fake.Mask(), EventsToMask(c.events));
            const std::size_t events = c.events.Empty() ? 0u : 2u;  // stop and wait signals
            EXPECT_TRUE(WaitUntil([&] { return fake.OpenEvents() == events; }));
        }
        recorder.Clear();
        port.Close();
        EXPECT_EQ(recorder.Calls(), closed);
        EXPECT_EQ(port.EventThread(), nullptr);
        if (c.fake) {
            EXPECT_EQ(fake.Mask(), 0u);
            EXPECT_EQ(fake.OpenEvents(), 0u);
            if (!c.events.Empty()) {
                // The thread empties both queues on its way out.
                const Calls calls = fake.Calls();
                EXPECT_NE(std::find(calls.begin(), calls.end(), "PurgeComm(12)"), calls.end());
            }
        }
    }
}

TEST_F(PortEventsTest, ASignalQueryFailureLeavesOpenWithThePortOpen) {
    EventPort port;
    port.SetDevice(fake_);
    RecordAll(port, recorder_);
    fake_.FailCall("GetCommModemStatus", 5);
    try {
        OpenOn(port, "COM3", kAllComEvents, smThreadSync);
        FAIL() << "no error";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), ecModemStatus);
        EXPECT_EQ(error.WinErrorCode(), 5);
    }
    EXPECT_TRUE(port.Connected());
    ASSERT_NE(port.EventThread(), nullptr);
    EXPECT_FALSE(port.EventThread()->Finished());
    EXPECT_EQ(recorder_.Calls(), (Calls{"BeforeOpen", "AfterOpen"}));
    port.Close();
    EXPECT_FALSE(port.Connected());
}

// --- One wake-up, every method.

class PortEventsByMethodTest : public PortEventsTest,
                               public testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(Methods, PortEventsByMethodTest,
                         testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& param) { return MethodName(param.param); });

TEST_P(PortEventsByMethodTest, OneWakeUpReportsEveryEventInTheFixedOrder) {
    EventPort port;
    port.SetDevice(fake_);
    RecordAll(port, recorder_);
    fake_.SetModemStatus(MS_CTS_ON | MS_RING_ON | MS_RLSD_ON);
    OpenOn(port, "COM3", kAllComEvents, GetParam());
    recorder_.Clear();

    fake_.PushInput("abc");
    fake_.AddLineErrors(CE_FRAME | CE_OVERRUN | CE_RXPARITY);  // parity dropped: Check is off
    fake_.RaiseEvents(EV_ALL);
    const Calls expected{"Error 0x05", "RxChar 3", "TxEmpty", "Break",  "Ring",
                         "CTS 1",      "DSR 0",    "RxFlag",  "RLSD 1", "Rx80Full"};
    ASSERT_TRUE(WaitForCalls(GetParam(), recorder_, expected.size()));
    EXPECT_EQ(recorder_.Calls(), expected);
    EXPECT_EQ(recorder_.Received(), "abc");
    EXPECT_EQ(recorder_.OffMainThread(), GetParam() == smNone ? expected.size() : 0u);
    EXPECT_EQ(port.EventThread()->LastEvents(), kAllComEvents);
}

TEST_P(PortEventsByMethodTest, BytesOnTheLineArriveOnce) {
    // A pty reports no line errors; the order within the wake-up is the
    // fake's case above. Here: bytes written on the line arrive, once each.
    EventPort port;
    RecordAll(port, recorder_);
    OpenOn(port, pty_.SlavePath(), kAllComEvents, GetParam());
    recorder_.Clear();
    pty_.Write("hello");
    ASSERT_TRUE(WaitFor(GetParam(), [&] { return recorder_.Received().size() >= 5; }));
    EXPECT_EQ(recorder_.Received(), "hello");
    for (const std::string& call : recorder_.Calls())
        EXPECT_EQ(call.rfind("RxChar ", 0), 0u) << call;
}

TEST_P(PortEventsByMethodTest, WakeUpsWithNothingLeftCallNothing) {
    EventPort port;
    port.SetDevice(fake_);
    RecordAll(port, recorder_);
    OpenOn(port, "COM3", kAllComEvents, GetParam());
    recorder_.Clear();
    // Bytes and errors of these wake-ups were already taken by someone else.
    fake_.RaiseEvents(EV_RXCHAR);
    fake_.RaiseEvents(EV_ERR);
    fake_.RaiseEvents(EV_TXEMPTY);
    ASSERT_TRUE(WaitForCalls(GetParam(), recorder_, 1));
    EXPECT_EQ(recorder_.Calls(), Calls{"TxEmpty"});
}

class PortEventsMainThreadTest : public PortEventsTest,
                                 public testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(Methods, PortEventsMainThreadTest,
                         testing::Values(smThreadSync, smWindowSync),
                         [](const auto& param) { return MethodName(param.param); });

TEST_P(PortEventsMainThreadTest, BytesReadBeforeTheHandOverRunsCallNothing) {
    EventPort port;
    RecordAll(port, recorder_);
    OpenOn(port, pty_.SlavePath(), kAllComEvents, GetParam());
    recorder_.Clear();

    const std::uint64_t placed = CallsPlaced();
    pty_.Write("x");
    // The thread waits for the main thread with the wake-up; read its byte first.
    ASSERT_TRUE(WaitUntil([&] { return CallsPlaced() > placed; }));
    EXPECT_EQ(port.ReadBytes(16), "x");
    tarvik::ServeMainThreadCalls();
    EXPECT_EQ(recorder_.Size(), 0u);

    pty_.Write("yz");
    ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Received() == "yz"; }));
    EXPECT_EQ(recorder_.Calls(), Calls{"RxChar 2"});
}

TEST_P(PortEventsMainThreadTest, CloseDuringAHandOverCompletesItConnected) {
    EventPort port;
    port.SetSyncMethod(GetParam());
    RecordAll(port, recorder_);
    std::string received;
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t count) {
        recorder_.Add("RxChar " + std::to_string(count) +
                      (p->Connected() ? " connected" : " closed"));
        received += p->ReadBytes(count);
    });
    OpenOn(port, pty_.SlavePath(), kAllComEvents, GetParam());
    recorder_.Clear();

    const std::uint64_t placed = CallsPlaced();
    pty_.Write("a");
    ASSERT_TRUE(WaitUntil([&] { return CallsPlaced() > placed; }));
    port.Close();  // never returns to the event loop before this
    EXPECT_EQ(recorder_.Calls(), (Calls{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose",
                                        "RxChar 1 connected", "AfterClose"}));
    EXPECT_EQ(received, "a");
    EXPECT_FALSE(port.Connected());
}

// --- Raising handlers.

TEST_F(PortEventsTest, WindowSyncShowsARaisingHandlersErrorAndGoesOn) {
    EventPort port;
    int calls = 0;
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t count) {
        p->ReadBytes(count);
        if (++calls == 1)
            throw std::runtime_error("handler failed");
    });
    OpenOn(port, pty_.SlavePath(), kAllComEvents, smWindowSync);
    pty_.Write("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return NewErrors() == 1; }));
    EXPECT_EQ(App().errors.back(), "handler failed");
    pty_.Write("b");
    ASSERT_TRUE(RunEventLoopUntil([&] { return calls == 2; }));
    EXPECT_FALSE(port.EventThread()->Finished());
    EXPECT_EQ(NewErrors(), 1u);
}

class PortEventsSilentErrorTest : public PortEventsTest,
                                  public testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(Methods, PortEventsSilentErrorTest, testing::Values(smThreadSync, smNone),
                         [](const auto& param) { return MethodName(param.param); });

TEST_P(PortEventsSilentErrorTest, ARaisingHandlerEndsTheThreadSilently) {
    EventPort port;
    std::atomic<bool> raise{true};
    std::atomic<int> calls{0};
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t count) {
        ++calls;
        if (raise)
            throw std::runtime_error("handler failed");
        p->ReadBytes(count);
    });
    // The error ends the wake-up: OnTxEmpty, later in the order, is not reached.
    std::atomic<int> txEmpty{0};
    port.SetOnTxEmpty([&](QObject*) { ++txEmpty; });
    OpenOn(port, pty_.SlavePath(), kAllComEvents, GetParam());
    TComThread* thread = port.EventThread();
    pty_.Write("a");
    // Under smThreadSync the error travels back with the hand-over's release;
    // nothing wakes the event loop after that.
    ASSERT_TRUE(WaitUntil([&] {
        if (GetParam() != smNone)
            QCoreApplication::processEvents();
        return thread->Finished();
    }));
    ASSERT_TRUE(thread->FatalException());
    EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);
    QCoreApplication::processEvents();
    EXPECT_EQ(NewErrors(), 0u);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(port.Connected());

    // Closed and opened again, the port reports again.
    port.Close();
    raise = false;
    port.Open();
    pty_.Write("b");
    ASSERT_TRUE(WaitFor(GetParam(), [&] { return calls == 2; }));
    EXPECT_EQ(NewErrors(), 0u);
}

TEST_F(PortEventsTest, CloseFromInsideAHandlerClosesThePort) {
    EventPort port;
    RecordAll(port, recorder_);
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t) {
        recorder_.Add("RxChar");
        p->Close();
    });
    OpenOn(port, pty_.SlavePath(), kAllComEvents, smThreadSync);
    recorder_.Clear();
    pty_.Write("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return !port.Connected(); }));
    EXPECT_EQ(recorder_.Calls(),
              (Calls{"RxChar", "CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose"}));
    EXPECT_EQ(port.EventThread(), nullptr);
    QCoreApplication::processEvents();  // releases the stopped thread
    EXPECT_EQ(NewErrors(), 0u);

    recorder_.Clear();
    port.SetOnRxChar(
        [&](QObject*, std::int32_t count) { recorder_.Add("RxChar " + std::to_string(count)); });
    port.Open();
    pty_.Write("b");
    ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Size() >= 6; }));
}

// --- The notification window's procedure.

TEST_F(PortEventsTest, WindowProcedureRunsTheStepOfExactlyItsCode) {
    EventPort port;
    port.SetDevice(fake_);
    fake_.SetModemStatus(MS_RLSD_ON);
    RecordAll(port, recorder_);
    OpenOn(port, "COM3", kNoEvents, smWindowSync);
    struct Case {
        std::uint32_t message;
        std::uintptr_t code;
        Calls expected;
    };
    const Case cases[] = {
        {CM_COMEVENT, 0x20, {"RLSD 1"}},  {CM_COMEVENT, 0x100, {"Ring"}},
        {CM_COMEVENT, 0x80, {}},  // no errors waiting
        {CM_COMEVENT, 0x04, {"TxEmpty"}}, {CM_COMEVENT, 0x400, {"Rx80Full"}},
        {CM_COMEVENT, 0x24, {}},  // two codes at once are no code
        {CM_COMEVENT, 0x200, {}},         {0x0400, 0x20, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        recorder_.Clear();
        EXPECT_EQ(port.NotifyWindowProc(c.message, c.code, 0), 0);
        EXPECT_EQ(recorder_.Calls(), c.expected);
    }
    port.Close();
    recorder_.Clear();
    port.NotifyWindowProc(CM_COMEVENT, 0x100, 0);
    EXPECT_EQ(recorder_.Size(), 0u);  // not connected: nothing runs
}

// --- What an idle or hung-up port costs.

TEST_F(PortEventsTest, AnIdleOpenPortsThreadDoesNotWake) {
    EventPort port;
    RecordAll(port, recorder_);
    OpenOn(port, pty_.SlavePath(), kAllComEvents, smThreadSync);
    pty_.Write("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Received() == "a"; }));
    const pid_t tid = port.EventThread()->ThreadId();
    ASSERT_TRUE(WaitUntil([&] { return BlockedInPoll(tid); }));
    const long before = VoluntarySwitches(tid);
    RunEventLoopFor(std::chrono::milliseconds(1000));
    EXPECT_EQ(VoluntarySwitches(tid) - before, 0);
    // And it still wakes for the next byte.
    pty_.Write("b");
    ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Received() == "ab"; }));
}

TEST_F(PortEventsTest, AfterAHangUpTheThreadSleepsAndCloseReturns) {
    EventPort port;
    RecordAll(port, recorder_);
    OpenOn(port, pty_.SlavePath(), kAllComEvents, smThreadSync);
    recorder_.Clear();
    const pid_t tid = port.EventThread()->ThreadId();
    pty_.HangUp();
    // The hang-up is reported once, as an I/O error.
    const auto reported = [&] {
        const Calls calls = recorder_.Calls();
        return std::find(calls.begin(), calls.end(), "Error 0x10") != calls.end();
    };
    ASSERT_TRUE(RunEventLoopUntil(reported));
    ASSERT_TRUE(WaitUntil([&] { return BlockedInPoll(tid); }));
    const long switches = VoluntarySwitches(tid);
    const long long cpu = ThreadCpuNs(tid);
    RunEventLoopFor(std::chrono::milliseconds(500));
    EXPECT_EQ(VoluntarySwitches(tid) - switches, 0);
    EXPECT_LT(ThreadCpuNs(tid) - cpu, 1'000'000);  // ns
    EXPECT_FALSE(port.EventThread()->Finished());
    port.Close();
    EXPECT_FALSE(port.Connected());
}

// --- Reception under load, with the window's settings (1 KiB queue,
// arrivals only).

// Writes bytes on a pty's master from a thread of its own, once or over and
// over, as fast as the line takes them; stops when destroyed.
class Feeder {
  public:
    Feeder(int master, std::string bytes, bool repeat)
        : master_(master), bytes_(std::move(bytes)), repeat_(repeat), thread_([this] { Run(); }) {}
    ~Feeder() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        std::size_t done = 0;
        while (!stop_ && (repeat_ || done < bytes_.size())) {
            pollfd ready{master_, POLLOUT, 0};
            if (poll(&ready, 1, 10) <= 0)
                continue;
            const ssize_t n = ::write(master_, bytes_.data() + done, bytes_.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            if (repeat_ && done == bytes_.size())
                done = 0;
        }
    }

    int master_;
    std::string bytes_;
    bool repeat_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(PortEventsTest, OpenedDuringAFloodThePortReceives) {
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        Pty pty;
        Feeder flood(pty.MasterFd(), std::string(4096, 'f'), true);
        EventPort port;
        std::size_t received = 0;
        EventPort* p = &port;
        port.SetOnRxChar(
            [&, p](QObject*, std::int32_t count) { received += p->ReadBytes(count).size(); });
        OpenOn(port, pty.SlavePath(), TComEvents{evRxChar}, smThreadSync);
        EXPECT_TRUE(RunEventLoopUntil([&] { return received >= 64 * 1024; }));
        port.Close();
    }
}

TEST_F(PortEventsTest, BurstsLargerThanTheQueueArriveWholeUnderWindowSync) {
    EventPort port;
    std::string received;
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t count) { received += p->ReadBytes(count); });
    OpenOn(port, pty_.SlavePath(), TComEvents{evRxChar}, smWindowSync);
    std::string burst(100'000, '\0');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>(i % 251);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        received.clear();
        Feeder writer(pty_.MasterFd(), burst, false);
        ASSERT_TRUE(RunEventLoopUntil([&] { return received.size() >= burst.size(); }));
        EXPECT_TRUE(received == burst);
    }
}

// --- Served by the main thread's event loop, without the thread.

TEST_F(PortEventsTest, ServedByTheEventLoopThePortNeedsNoThread) {
    const auto servedOn = [this](EventPort& port, const std::string& name) {
        port.SetServedByEventLoop(true);
        OpenOn(port, name, TComEvents{evRxChar, evError}, smThreadSync);
    };
    {
        // A device that cannot be watched from a loop keeps the thread.
        EventPort port;
        port.SetDevice(fake_);
        servedOn(port, "COM3");
        EXPECT_NE(port.EventThread(), nullptr);
        EXPECT_EQ(port.EventWatch(), nullptr);
    }
    EventPort port;
    RecordAll(port, recorder_);
    servedOn(port, pty_.SlavePath());
    EXPECT_EQ(port.EventThread(), nullptr);
    ASSERT_NE(port.EventWatch(), nullptr);
    recorder_.Clear();

    // Bytes arrive on the main thread, once each, a burst larger than the
    // queue whole.
    std::string burst(100'000, '\0');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>(i % 251);
    {
        Feeder writer(pty_.MasterFd(), burst, false);
        ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Received().size() >= burst.size(); }));
    }
    EXPECT_TRUE(recorder_.Received() == burst);
    EXPECT_EQ(recorder_.OffMainThread(), 0u);

    // A handler that closes the port, then the port opened again.
    EventPort* p = &port;
    port.SetOnRxChar([&, p](QObject*, std::int32_t) { p->Close(); });
    pty_.Write("a");
    ASSERT_TRUE(RunEventLoopUntil([&] { return !port.Connected(); }));
    EXPECT_EQ(port.EventWatch(), nullptr);
    RecordAll(port, recorder_);
    port.Open();
    recorder_.Clear();
    pty_.Write("b");
    ASSERT_TRUE(RunEventLoopUntil([&] { return recorder_.Received() == "b"; }));

    // A hang-up is reported once; then the loop sleeps, and Close returns.
    pty_.HangUp();
    const auto reported = [&] {
        const Calls calls = recorder_.Calls();
        return std::find(calls.begin(), calls.end(), "Error 0x10") != calls.end();
    };
    ASSERT_TRUE(RunEventLoopUntil(reported));
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    const long long cpu = ThreadCpuNs(self);
    RunEventLoopFor(std::chrono::milliseconds(500));
    EXPECT_LT(ThreadCpuNs(self) - cpu, 50'000'000);  // ns: a spinning loop takes all 500 ms
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(NewErrors(), 0u);
}

}  // namespace
}  // namespace cport::testutil
