#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "pty_fixture.h"
#include "serial/device/kernel_line.h"
#include "tools/simulator/simulator.h"

namespace cport::device {
namespace {

using namespace std::chrono_literals;

// One overlapped read/write on a fresh event, waited for.
struct Transfer {
    ComDevice& dev;
    ComHandle handle;
    OVERLAPPED ov{};
    Transfer(ComDevice& d, ComHandle h) : dev(d), handle(h) {
        ov.hEvent = dev.CreateEventA(true, true);
    }
    ~Transfer() { dev.CloseHandle(ov.hEvent); }
    // Returns the bytes moved, or -errno.
    long Finish(bool started) {
        if (!started && dev.GetLastError() != ERROR_IO_PENDING) {
            return -dev.GetLastError();
        }
        EXPECT_EQ(dev.WaitForSingleObject(ov.hEvent, INFINITE), WAIT_OBJECT_0);
        std::uint32_t n = 0;
        if (!dev.GetOverlappedResult(handle, &ov, &n, false)) {
            return -dev.GetLastError();
        }
        return n;
    }
    long Read(std::string& into, std::uint32_t count) {
        into.assign(count, '\0');
        std::uint32_t done = 0;
        const long n = Finish(dev.ReadFile(handle, into.data(), count, &done, &ov));
        into.resize(n > 0 ? n : 0);
        return n;
    }
    long Write(const std::string& bytes) {
        std::uint32_t done = 0;
        return Finish(dev.WriteFile(handle, bytes.data(), bytes.size(), &done, &ov));
    }
};

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) {
        s.push_back(static_cast<char>(i));
    }
    return s;
}

TEST_F(PtyTest, EveryByteValueBothWays) {
    const ComHandle h = OpenPort({0, 0, 2000, 0, 2000});
    Transfer t(dev_, h);
    const std::string all = AllBytes() + AllBytes();
    EXPECT_EQ(t.Write(all), long(all.size()));
    EXPECT_EQ(MasterRead(all.size()), all);

    MasterWrite(all);
    std::string got;
    EXPECT_EQ(t.Read(got, all.size()), long(all.size()));
    EXPECT_EQ(got, all);
    EXPECT_TRUE(dev_.CloseHandle(h));
}

TEST_F(PtyTest, ReadEndsByIntervalWithExactlyTheBytesThatCame) {
    // The main window's time-outs: 200 ms interval, 200 ms a byte, 200 ms.
    const ComHandle h = OpenPort({200, 200, 200, 0, 0});
    Transfer t(dev_, h);
    const std::string sent("\x01\xFF\x00", 3);
    MasterWrite(sent);
    const auto start = std::chrono::steady_clock::now();
    std::string got;
    EXPECT_EQ(t.Read(got, 10), 3);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, sent);
    EXPECT_GE(took, 190ms);
    EXPECT_LT(took, 2000ms);  // well before the total of 2200 ms
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, ReadEndsByTotalWhenNothingComes) {
    const ComHandle h = OpenPort({200, 10, 100, 0, 0});
    Transfer t(dev_, h);
    const auto start = std::chrono::steady_clock::now();
    std::string got;
    EXPECT_EQ(t.Read(got, 5), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, CountZeroEndsAtOnce) {
    const ComHandle h = OpenPort({0, 0, 0, 0, 0});  // no time-outs at all
    Transfer t(dev_, h);
    std::uint32_t done = 7;
    char byte = 0;
    EXPECT_TRUE(dev_.ReadFile(h, &byte, 0, &done, &t.ov));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(dev_.WaitForSingleObject(t.ov.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(dev_.WriteFile(h, &byte, 0, &done, &t.ov));
    EXPECT_EQ(done, 0u);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, SecondOpenRefusedUntilClosed) {
    const ComHandle h = dev_.CreateFileA(path_);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PosixComDevice other;  // as another program would
    EXPECT_EQ(other.CreateFileA(path_), INVALID_HANDLE_VALUE);
    const int e = other.GetLastError();
    EXPECT_TRUE(e == EBUSY || e == EWOULDBLOCK) << e;
    EXPECT_EQ(dev_.CreateFileA(path_), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(dev_.CloseHandle(h));
    const ComHandle again = other.CreateFileA(path_);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    other.CloseHandle(again);

    EXPECT_EQ(dev_.CreateFileA("/dev/tarvik-no-such-port"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(dev_.GetLastError(), ENOENT);
}

TEST_F(PtyTest, SettingsReadBackAndRestoredAtClose) {
    KernelLine before;
    ASSERT_EQ(ReadKernelLine(slave_, &before), 0);
    const ComHandle h = dev_.CreateFileA(path_);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb;
    dcb.BaudRate = 123457;
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(dev_.SetCommState(h, dcb)) << dev_.GetLastError();
    KernelLine now;
    ASSERT_EQ(ReadKernelLine(slave_, &now), 0);
    EXPECT_EQ(now.outSpeed, 123457u);
    EXPECT_NE(now.cflag & CSTOPB, 0u);
    EXPECT_EQ(now.lflag & (ICANON | ECHO), 0u);

    // A pty has no framing: 7E1 is taken without effect; what no line can
    // do is refused and leaves the settings as they were.
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    EXPECT_TRUE(dev_.SetCommState(h, dcb));
    dcb.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(dev_.SetCommState(h, dcb));
    EXPECT_EQ(dev_.GetLastError(), EINVAL);
    ASSERT_EQ(ReadKernelLine(slave_, &now), 0);
    EXPECT_EQ(now.outSpeed, 123457u);

    EXPECT_TRUE(dev_.CloseHandle(h));
    KernelLine after;
    ASSERT_EQ(ReadKernelLine(slave_, &after), 0);
    EXPECT_EQ(after.outSpeed, before.outSpeed);
    EXPECT_EQ(after.lflag, before.lflag);
    EXPECT_EQ(after.iflag, before.iflag);
    EXPECT_EQ(after.cflag, before.cflag);
}

TEST_F(PtyTest, NoModemLinesNoErrorsOnPty) {
    const ComHandle h = OpenPort();
    std::uint32_t status = 99;
    EXPECT_TRUE(dev_.GetCommModemStatus(h, &status));
    EXPECT_EQ(status, 0u);
    std::uint32_t errors = 99;
    COMSTAT stat;
    EXPECT_TRUE(dev_.ClearCommError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.Flags |= DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE | DCB_fOutxCtsFlow;
    EXPECT_TRUE(dev_.SetCommState(h, dcb)) << dev_.GetLastError();
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, InputQueueCountIsExactPastTheKernelsFourKilobytes) {
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetupComm(h, 16384, 1024));
    MasterWrite(std::string(10000, 'x'));
    COMSTAT stat;
    std::uint32_t errors = 0;
    EXPECT_TRUE(WaitUntil([&] {
        dev_.ClearCommError(h, &errors, &stat);
        return stat.cbInQue == 10000;
    })) << stat.cbInQue;
    EXPECT_TRUE(dev_.PurgeComm(h, PURGE_RXCLEAR));
    dev_.ClearCommError(h, &errors, &stat);
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(dev_.PurgeComm(h, 0x10));
    EXPECT_EQ(dev_.GetLastError(), EINVAL);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, AbortEndsAWaitingReadAtOnce) {
    const ComHandle h = OpenPort({0, 0, 0, 0, 0});  // would wait for ever
    Transfer t(dev_, h);
    char buffer[16];
    std::uint32_t done = 0;
    ASSERT_FALSE(dev_.ReadFile(h, buffer, sizeof buffer, &done, &t.ov));
    ASSERT_EQ(dev_.GetLastError(), ERROR_IO_PENDING);
    std::uint32_t n = 0;
    EXPECT_FALSE(dev_.GetOverlappedResult(h, &t.ov, &n, false));
    EXPECT_EQ(dev_.GetLastError(), ERROR_IO_INCOMPLETE);
    std::thread purger([&] { EXPECT_TRUE(dev_.PurgeComm(h, PURGE_RXABORT | PURGE_TXABORT)); });
    EXPECT_EQ(dev_.WaitForSingleObject(t.ov.hEvent, 5000), WAIT_OBJECT_0);
    purger.join();
    EXPECT_FALSE(dev_.GetOverlappedResult(h, &t.ov, &n, false));
    EXPECT_EQ(dev_.GetLastError(), ECANCELED);
    dev_.CloseHandle(h);
}

// The event thread's loop: wait for an event or the stop signal.
struct EventWaiter {
    ComDevice& dev;
    ComHandle handle;
    ComHandle stop;
    OVERLAPPED ov{};
    std::uint32_t mask = 0;
    EventWaiter(ComDevice& d, ComHandle h) : dev(d), handle(h) {
        stop = dev.CreateEventA(true, false);
        ov.hEvent = dev.CreateEventA(true, true);
    }
    ~EventWaiter() {
        dev.CloseHandle(stop);
        dev.CloseHandle(ov.hEvent);
    }
    // The events of the next wake-up, or 0 when `limit` passed.
    std::uint32_t Next(std::uint32_t limitMs = 5000) {
        dev.WaitCommEvent(handle, &mask, &ov);
        const ComHandle both[2] = {stop, ov.hEvent};
        const std::uint32_t r = dev.WaitForMultipleObjects(2, both, false, limitMs);
        std::uint32_t n = 0;
        if (r == WAIT_OBJECT_0 + 1 && dev.GetOverlappedResult(handle, &ov, &n, false)) {
            return mask;
        }
        return 0;
    }
};

TEST_F(PtyTest, CommEvents) {
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetupComm(h, 100, 100));
    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.EvtChar = '\n';
    ASSERT_TRUE(dev_.SetCommState(h, dcb));
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_TXEMPTY));
    EventWaiter w(dev_, h);

    MasterWrite("abc");
    EXPECT_EQ(w.Next(), EV_RXCHAR);
    MasterWrite("d\ne");
    EXPECT_EQ(w.Next(), EV_RXCHAR | EV_RXFLAG);
    MasterWrite(std::string(74, 'f'));  // 80 of 100 queued
    EXPECT_EQ(w.Next(), EV_RXCHAR | EV_RX80FULL);

    Transfer t(dev_, h);
    EXPECT_EQ(t.Write("out"), 3);
    EXPECT_EQ(w.Next(), EV_TXEMPTY);

    // Read everything: no event is left behind for bytes already taken.
    std::string got;
    ASSERT_TRUE(dev_.SetCommTimeouts(h, {MAXDWORD, 0, 0, 0, 0}));
    EXPECT_EQ(t.Read(got, 200), 80);
    EXPECT_EQ(w.Next(100), 0u);

    // A mask change ends a pending wait with no events.
    dev_.WaitCommEvent(h, &w.mask, &w.ov);
    EXPECT_TRUE(dev_.SetCommMask(h, 0));
    EXPECT_EQ(dev_.WaitForSingleObject(w.ov.hEvent, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(w.mask, 0u);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, AnEventCharacterDeepInABurstWakesAWaitForItAlone) {
    // The driver hands out at most 4095 bytes a read: the waiter has to take
    // the rest of the burst itself, without news from the driver.
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetupComm(h, 16384, 1024));
    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.EvtChar = '!';
    ASSERT_TRUE(dev_.SetCommState(h, dcb));
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXFLAG));
    EventWaiter w(dev_, h);
    MasterWrite(std::string(9999, 'z') + "!");
    EXPECT_EQ(w.Next(), EV_RXFLAG);
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(dev_.ClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 10000u);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, NothingStaysBehindAFullSmallQueue) {
    // The simulator streams 1 MiB; the reader takes what each wake-up
    // announces, as the port's receive path does, through a 1 KiB queue.
    tarvik::sim::Behaviour b;
    b.mode = tarvik::sim::Behaviour::Mode::kStream;
    b.streamBytes = 1 << 20;
    tarvik::sim::Simulator sim(b);
    std::thread simThread([&] { sim.Run(); });

    const ComHandle h = dev_.CreateFileA(sim.SlavePath());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(dev_.SetupComm(h, 1024, 1024));
    ASSERT_TRUE(dev_.SetCommTimeouts(h, {MAXDWORD, 0, 0, 0, 1000}));
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    EventWaiter w(dev_, h);
    Transfer t(dev_, h);
    EXPECT_EQ(t.Write("go"), 2);
    std::uint64_t total = 0;
    std::uint32_t largest = 0;
    bool inOrder = true;
    std::string got;
    while (total < b.streamBytes && w.Next() != 0) {
        std::uint32_t errors;
        COMSTAT stat;
        ASSERT_TRUE(dev_.ClearCommError(h, &errors, &stat));
        // Below its size the queue takes a whole driver read, at most 4 KiB.
        ASSERT_LE(stat.cbInQue, 1024u + 4096u);
        largest = std::max(largest, stat.cbInQue);
        t.Read(got, stat.cbInQue);
        for (char c : got) {
            inOrder = inOrder && static_cast<std::uint8_t>(c) == tarvik::sim::StreamByte(total++);
        }
    }
    EXPECT_EQ(total, b.streamBytes);
    EXPECT_TRUE(inOrder);
    EXPECT_GT(largest, 1024u);
    dev_.CloseHandle(h);
    sim.Stop();
    simThread.join();
}

double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    pthread_getcpuclockid(thread, &clock);
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

TEST_F(PtyTest, HangUpFailsTransfersAndWaitsDoNotSpin) {
    ::close(slave_);  // only the port holds the slave now
    slave_ = ::open("/dev/null", O_RDONLY);
    const ComHandle h = OpenPort({0, 0, 0, 0, 1000});
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    EventWaiter w(dev_, h);
    std::atomic<int> wakeUps{0};
    std::thread events([&] {
        for (;;) {
            dev_.WaitCommEvent(h, &w.mask, &w.ov);
            const ComHandle both[2] = {w.stop, w.ov.hEvent};
            if (dev_.WaitForMultipleObjects(2, both, false, INFINITE) != WAIT_OBJECT_0 + 1) {
                return;
            }
            ++wakeUps;
        }
    });
    MasterWrite("x");
    ASSERT_TRUE(WaitUntil([&] { return wakeUps > 0; }));
    Transfer t(dev_, h);
    std::string got;
    EXPECT_EQ(t.Read(got, 1), 1);
    CloseMaster();

    // Let the hung-up line sit for a while: the waiting thread must sleep.
    const double cpuBefore = ThreadCpuSeconds(events.native_handle());
    std::this_thread::sleep_for(300ms);
    const double cpu = ThreadCpuSeconds(events.native_handle()) - cpuBefore;
    EXPECT_LT(cpu, 0.03) << "the event wait burns CPU after the hang-up";
    EXPECT_LT(wakeUps.load(), 5);

    EXPECT_EQ(t.Read(got, 1), -EIO);
    EXPECT_EQ(t.Write("y"), -EIO);
    // Also with the port's initial "take what is there" time-outs.
    ASSERT_TRUE(dev_.SetCommTimeouts(h, {MAXDWORD, 0, 0, 0, 0}));
    EXPECT_EQ(t.Read(got, 1), -EIO);

    dev_.SetEvent(w.stop);
    events.join();
    EXPECT_TRUE(dev_.CloseHandle(h));
}

TEST_F(PtyTest, AFullQueueWithMoreInTheDriverLetsTheWaiterSleep) {
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetupComm(h, 100, 100));
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    EventWaiter w(dev_, h);
    MasterWrite(std::string(10000, 'q'));
    // With the mask asking for arrivals, the waiter fills the queue: past its
    // size by the one driver read that crossed it.
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(WaitUntil([&] {
        w.Next(50);
        return dev_.ClearCommError(h, &errors, &stat) && stat.cbInQue >= 100;
    }));
    const std::uint32_t queued = stat.cbInQue;
    ASSERT_LE(queued, 100u + 4096u);

    // The rest stays in the kernel: nothing more can be queued, so a waiter
    // has nothing to wake for and must not spin on the readable device.
    const double cpuBefore = ThreadCpuSeconds(pthread_self());
    EXPECT_EQ(w.Next(300), 0u);
    EXPECT_LT(ThreadCpuSeconds(pthread_self()) - cpuBefore, 0.03);

    // Reading makes room: the rest is queued and announced to the wait
    // still pending.
    Transfer t(dev_, h);
    std::string got;
    EXPECT_EQ(t.Read(got, queued), static_cast<int>(queued));
    EXPECT_EQ(dev_.WaitForSingleObject(w.ov.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(w.mask, EV_RXCHAR);
    std::string rest;
    while (rest.size() < 10000 - queued && t.Read(got, 4096) > 0) {
        rest += got;
    }
    EXPECT_EQ(rest, std::string(10000 - queued, 'q'));
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, AClosedEventLeavesNoSignalForTheNext) {
    // Events that waiters slept on (the setter may come before or during the
    // sleep) hand their descriptors on when closed; a later event that is not
    // set must still make a waiter wait.
    for (int i = 0; i < 20; ++i) {
        const ComHandle used = dev_.CreateEventA(true, false);
        EXPECT_EQ(dev_.WaitForSingleObject(used, 1), WAIT_TIMEOUT);
        std::thread setter([&] { dev_.SetEvent(used); });
        EXPECT_EQ(dev_.WaitForSingleObject(used, 5000), WAIT_OBJECT_0);
        setter.join();
        EXPECT_TRUE(dev_.CloseHandle(used));

        const ComHandle fresh = dev_.CreateEventA(true, false);
        EXPECT_EQ(dev_.WaitForSingleObject(fresh, 5), WAIT_TIMEOUT) << "round " << i;
        std::thread freshSetter([&] { dev_.SetEvent(fresh); });
        EXPECT_EQ(dev_.WaitForSingleObject(fresh, 5000), WAIT_OBJECT_0);
        freshSetter.join();
        EXPECT_TRUE(dev_.CloseHandle(fresh));
    }
}

TEST_F(PtyTest, LowestSetEventWins) {
    const ComHandle a = dev_.CreateEventA(true, false);
    const ComHandle b = dev_.CreateEventA(true, true);
    const ComHandle c = dev_.CreateEventA(true, true);
    const ComHandle all[3] = {a, b, c};
    EXPECT_EQ(dev_.WaitForMultipleObjects(3, all, false, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(dev_.WaitForMultipleObjects(3, all, false, INFINITE),
              WAIT_OBJECT_0 + 1);  // manual reset
    dev_.ResetEvent(b);
    dev_.ResetEvent(c);
    EXPECT_EQ(dev_.WaitForSingleObject(a, 20), WAIT_TIMEOUT);
    std::thread setter([&] { dev_.SetEvent(c); });
    EXPECT_EQ(dev_.WaitForMultipleObjects(3, all, false, 5000), WAIT_OBJECT_0 + 2);
    setter.join();
    for (ComHandle e : all) {
        EXPECT_TRUE(dev_.CloseHandle(e));
    }
    EXPECT_EQ(dev_.WaitForSingleObject(a, 0), WAIT_FAILED);
    EXPECT_EQ(dev_.GetLastError(), EBADF);
    EXPECT_FALSE(dev_.CloseHandle(a));
}

}  // namespace
}  // namespace cport::device
