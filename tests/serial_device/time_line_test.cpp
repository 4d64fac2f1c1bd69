// The device layer's time line over real pseudo-terminals: arrival times tied
// to their bytes under a flood, send times, counters, and a hang-up reported
// once as "line lost" without a spin. The arrival marks alone, as a table.

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "serial/device/arrival_marks.h"
#include "serial/device/by_id_link.h"
#include "tests/serial_device/pty_fixture.h"

namespace cport::device {
namespace {

// One overlapped transfer or event wait at a time on a device handle.
struct Io {
    ComDevice& dev;
    ComHandle handle;
    OVERLAPPED ov{};
    std::uint32_t mask = 0;
    Io(ComDevice& d, ComHandle h) : dev(d), handle(h) { ov.hEvent = dev.CreateEventA(true, true); }
    ~Io() { dev.CloseHandle(ov.hEvent); }
    // Bytes moved, or -errno.
    long Finish(bool started, std::uint32_t limitMs = INFINITE) {
        if (!started && dev.GetLastError() != ERROR_IO_PENDING)
            return -dev.GetLastError();
        if (dev.WaitForSingleObject(ov.hEvent, limitMs) != WAIT_OBJECT_0)
            return -ETIMEDOUT;
        std::uint32_t n = 0;
        return dev.GetOverlappedResult(handle, &ov, &n, false) ? long{n} : -dev.GetLastError();
    }
    std::string Read(std::uint32_t count) {
        std::string into(count, '\0');
        std::uint32_t done = 0;
        const long n = Finish(dev.ReadFile(handle, into.data(), count, &done, &ov));
        into.resize(n > 0 ? n : 0);
        return into;
    }
    long Write(const std::string& bytes) {
        std::uint32_t done = 0;
        return Finish(dev.WriteFile(handle, bytes.data(), bytes.size(), &done, &ov));
    }
    // The mask of the next wake-up; 0 when none came within the limit.
    std::uint32_t NextEvent(std::uint32_t limitMs = 5000) {
        return Finish(dev.WaitCommEvent(handle, &mask, &ov), limitMs) >= 0 ? mask : 0;
    }
};

std::int64_t MonoUs() {
    return LineClock::Raw().monoUs;
}

std::vector<LineEvent> TakeEvents(ComDevice& dev, ComHandle h) {
    std::vector<LineEvent> events;
    EXPECT_TRUE(dev.TakeLineEvents(h, &events));
    return events;
}

TEST(ArrivalMarksTest, APopKnowsTheTimesOfItsFirstAndLastByte) {
    const LineTime t1{10, 1}, t2{20, 2}, t3{30, 3};
    struct Row {
        std::size_t pop;
        LineTime first, last;
    };
    ArrivalMarks marks;
    marks.Pushed(3, t1);
    marks.Pushed(2, t2);
    marks.Pushed(1, t2);  // the same wake-up: one mark
    marks.Pushed(4, t3);
    const Row rows[] = {{2, t1, t1}, {2, t1, t2}, {3, t2, t3}, {0, {}, {}}, {3, t3, t3}};
    for (const Row& row : rows) {
        LineTime first, last;
        marks.Popped(row.pop, &first, &last);
        EXPECT_EQ(first, row.first);
        EXPECT_EQ(last, row.last);
    }
    marks.Pushed(1, t1);
    marks.Clear();
    marks.Pushed(1, t2);
    LineTime first, last;
    marks.Popped(1, &first, &last);
    EXPECT_EQ(first, t2);
}

TEST_F(PtyTest, ReadsSpanningTwoWakeUpsKnowBothTimes) {
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    Io wait(dev_, h), t(dev_, h);
    const std::int64_t beforeA = MonoUs();
    MasterWrite("AAA");
    ASSERT_EQ(wait.NextEvent(), EV_RXCHAR);  // queued by this wake-up
    const std::int64_t between = MonoUs();
    MasterWrite("BB");
    ASSERT_EQ(wait.NextEvent(), EV_RXCHAR);
    const std::int64_t afterB = MonoUs();
    EXPECT_EQ(t.Read(5), "AAABB");
    TransferTimes times;
    ASSERT_TRUE(dev_.GetTransferTimes(h, false, &times));
    EXPECT_EQ(times.bytes, 5u);
    EXPECT_GE(times.first.monoUs, beforeA);
    EXPECT_LE(times.first.monoUs, between);
    EXPECT_GE(times.last.monoUs, between);
    EXPECT_LE(times.last.monoUs, afterB);
    EXPECT_GT(times.first.wallUs, 0);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, UnderAFloodArrivalTimesStayOrderedAndNeverPrecedeTheirWrite) {
    // The far end writes numbered blocks as fast as the line takes them and
    // notes the time before each write; the port reads in odd sizes.
    constexpr int kBlocks = 400;
    constexpr std::size_t kBlock = 997;
    const ComHandle h = OpenPort();
    ASSERT_TRUE(dev_.SetupComm(h, 8192, 1024));
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    std::vector<std::int64_t> writtenAt(kBlocks);
    std::thread writer([&] {
        for (int b = 0; b < kBlocks; ++b) {
            writtenAt[b] = MonoUs();
            MasterWrite(std::string(kBlock, static_cast<char>('a' + b % 26)));
        }
    });
    Io wait(dev_, h), t(dev_, h);
    std::size_t got = 0;
    LineTime previous;
    bool ordered = true, attached = true, contentRight = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got < kBlocks * kBlock && std::chrono::steady_clock::now() < until) {
        const std::string bytes = t.Read(static_cast<std::uint32_t>(1 + got % 3001));
        if (bytes.empty()) {
            // Nothing queued: sleep until the next arrival (a wait that
            // timed out is ended by setting the mask again).
            if (wait.NextEvent(200) == 0) {
                ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
            }
            continue;
        }
        TransferTimes times;
        ASSERT_TRUE(dev_.GetTransferTimes(h, false, &times));
        ordered = ordered && previous.monoUs <= times.first.monoUs &&
                  times.first.monoUs <= times.last.monoUs && previous.wallUs <= times.first.wallUs;
        // The first byte's block was written before the byte was taken.
        const std::size_t firstBlock = got / kBlock;
        const std::size_t lastBlock = (got + bytes.size() - 1) / kBlock;
        attached = attached && times.first.monoUs >= writtenAt[firstBlock] &&
                   times.last.monoUs >= writtenAt[lastBlock];
        const auto blockByte = [](std::size_t block) {
            return static_cast<char>('a' + block % 26);
        };
        contentRight = contentRight && bytes.front() == blockByte(firstBlock) &&
                       bytes.back() == blockByte(lastBlock);
        previous = times.last;
        got += bytes.size();
    }
    writer.join();
    EXPECT_EQ(got, kBlocks * kBlock);
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(attached);
    EXPECT_TRUE(contentRight);
    LineCounters counters;
    ASSERT_TRUE(dev_.GetLineCounters(h, &counters));
    EXPECT_EQ(counters.received, kBlocks * kBlock);
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, SendTimesAndCountersOfAPseudoTerminal) {
    const ComHandle h = OpenPort();
    Io t(dev_, h);
    TransferTimes times;
    EXPECT_FALSE(dev_.GetTransferTimes(h, true, &times));
    EXPECT_EQ(dev_.GetLastError(), ENOENT);
    const std::int64_t before = MonoUs();
    ASSERT_EQ(t.Write("hello"), 5);
    const std::int64_t after = MonoUs();
    ASSERT_TRUE(dev_.GetTransferTimes(h, true, &times));
    EXPECT_EQ(times.bytes, 5u);
    EXPECT_LE(before, times.first.monoUs);
    EXPECT_LE(times.first.monoUs, times.last.monoUs);
    EXPECT_LE(times.last.monoUs, after);
    EXPECT_EQ(MasterRead(5), "hello");
    MasterWrite("xy");
    ASSERT_TRUE(WaitUntil([&] { return !t.Read(2).empty(); }));
    LineCounters counters;
    ASSERT_TRUE(dev_.GetLineCounters(h, &counters));
    EXPECT_EQ(counters.sent, 5u);
    EXPECT_GE(counters.received, 1u);
    EXPECT_FALSE(counters.kernel.has_value());  // a pty keeps no line counts
    dev_.CloseHandle(h);
}

TEST_F(PtyTest, AHangUpIsOneLineLostAndTheWaiterThenSleeps) {
    const ComHandle h = OpenPort();
    Io wait(dev_, h);
    // Nothing is gathered until the mask asks for it.
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR));
    EXPECT_TRUE(TakeEvents(dev_, h).empty());
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR | EV_LINEEVENT));
    // A pty says once that it cannot tell about its lines.
    ASSERT_EQ(wait.NextEvent(), EV_LINEEVENT);
    auto events = TakeEvents(dev_, h);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, LineEventKind::kNoLineEvents);
    EXPECT_EQ(wait.NextEvent(50), 0u);
    ASSERT_TRUE(dev_.SetCommMask(h, EV_RXCHAR | EV_LINEEVENT));  // ends that wait
    EXPECT_TRUE(TakeEvents(dev_, h).empty());

    const std::int64_t before = MonoUs();
    CloseMaster();
    ASSERT_EQ(wait.NextEvent() & EV_LINEEVENT, EV_LINEEVENT);
    events = TakeEvents(dev_, h);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, LineEventKind::kLost);
    EXPECT_GE(events[0].time.monoUs, before);
    // Refused at once, with the event left reset: no busy loop, no second "lost".
    EXPECT_EQ(wait.NextEvent(50), 0u);
    EXPECT_TRUE(TakeEvents(dev_, h).empty());
    EXPECT_TRUE(dev_.CloseHandle(h));
}

}  // namespace
}  // namespace cport::device

namespace cport::device {
namespace {

TEST(ByIdLinkTest, TheLinkLeadingToTheSameNodeIsFound) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("tarvik-by-id-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    fs::create_symlink("/dev/null", folder / "usb-Other_Thing-if00");
    fs::create_symlink(name, folder / "usb-Maker_Adapter_A1-if00-port0");
    fs::create_symlink(folder / "usb-Maker_Adapter_A1-if00-port0", folder / "a-link-to-it");
    struct Row {
        std::string path;
        std::string folder;
        bool found;
    };
    const Row rows[] = {
        {name, folder.string(), true},
        {(folder / "a-link-to-it").string(), folder.string(), true},
        {"/dev/zero", folder.string(), false},
        {name, (folder / "missing").string(), false},
        {"/dev/no-such-node", folder.string(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const std::string link = ByIdLinkOf(row.path, row.folder);
        if (row.found) {
            EXPECT_EQ(fs::canonical(link), fs::canonical(name));
        } else {
            EXPECT_EQ(link, "");
        }
    }
    ::close(master);
    ::close(slave);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace cport::device
