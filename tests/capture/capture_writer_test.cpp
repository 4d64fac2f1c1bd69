// The capture writer: sessions of a port on a pty (the simulator) and on the
// fake device (line events a pty cannot give) read back equal, byte for byte
// and time for time, in both forms; and a capture that cannot go on stops
// once, saying where, without a hole and without holding up its caller.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "capture/capture_format.h"
#include "serial/device/fake_com_device.h"
#include "tests/base/qt_test_support.h"
#include "tests/capture/capture_test_support.h"
#include "tools/simulator/simulator.h"

namespace tarvik::capture {
namespace {

using cport::LineEvent;
using cport::LineEventKind;
using cport::LineTime;
using tarvik::testing::App;
using tarvik::testing::RunEventLoopUntil;
using tarvik::testing::WaitUntil;
using test::CapturedSession;
using test::FileText;
using test::StopLog;
using test::TempDir;

std::vector<CaptureRecord> ReadCapture(const std::string& path) {
    return ParseCapture(FileText(path));
}

std::vector<LineEventKind> EventKinds(const std::vector<CaptureRecord>& records) {
    std::vector<LineEventKind> kinds;
    for (const auto& record : records) {
        if (record.kind == RecordKind::kEvent)
            kinds.push_back(record.event.kind);
    }
    return kinds;
}

TEST(CaptureSessionTest, APtySessionReadsBackEqualInBothForms) {
    App();
    TempDir dir;
    sim::Simulator device(
        {.mode = sim::Behaviour::Mode::kReply, .reply = std::string("pong\0\xff\r\n", 8)});
    std::thread serving([&device] { device.Run(); });
    struct Joined {
        sim::Simulator& device;
        std::thread& serving;
        ~Joined() {
            device.Stop();
            serving.join();
        }
    } joined{device, serving};
    {
        cport::TComPort port;
        port.SetPort(device.SlavePath());
        CapturedSession session(port, dir / "session.cap", dir / "session.raw");
        port.Open();
        for (int i = 1; i <= 5; ++i) {
            session.Send("ping " + std::to_string(i) + "\r");
            ASSERT_TRUE(RunEventLoopUntil([&] { return session.received.size() == 8u * i; }));
        }
        port.Close();
        session.End();

        const auto records = ReadCapture(dir / "session.cap");
        EXPECT_EQ(records, session.records);
        EXPECT_EQ(EventKinds(records),
                  (std::vector{LineEventKind::kOpened, LineEventKind::kNoLineEvents,
                               LineEventKind::kClosed}));
        for (const auto& record : records) EXPECT_TRUE(record.time.Valid());
        EXPECT_EQ(FileText(dir / "session.raw"), session.received);
        EXPECT_EQ(session.received.size(), 40u);
    }
}

TEST(CaptureSessionTest, LineEventsOfTheFakeDeviceReadBackEqual) {
    App();
    TempDir dir;
    cport::device::FakeComDevice fake;
    cport::TComPort port;
    port.SetDevice(fake);
    port.SetPort("COM3");
    CapturedSession session(port, dir / "lines.cap", dir / "lines.raw");
    port.Open();
    const LineTime t1{5'000'001, 1'765'000'000'000'001}, t2{5'000'250, 1'765'000'000'000'250};
    const std::vector<LineEvent> scripted = {
        {LineEventKind::kCts, t1, true, 0, {}},     {LineEventKind::kRlsd, t1, false, 0, {}},
        {LineEventKind::kBreak, t2, false, 2, {}},  {LineEventKind::kFrame, t2, false, 1, {}},
        {LineEventKind::kParity, t2, false, 3, {}}, {LineEventKind::kOverrun, t2, false, 1, {}},
        {LineEventKind::kRing, t2, true, 0, {}},    {LineEventKind::kBufferOverrun, t2, false, 9, {}},
    };
    for (const LineEvent& event : scripted) fake.PushLineEvent(event);
    ASSERT_TRUE(RunEventLoopUntil([&] { return session.records.size() == 1 + scripted.size(); }));
    fake.PushInputAt("\x01\x02\x03", LineTime{5'000'300, 1'765'000'000'000'300});
    fake.RaiseEvents(cport::device::EV_RXCHAR);
    ASSERT_TRUE(RunEventLoopUntil([&] { return session.received.size() == 3; }));
    port.Close();
    session.End();

    const auto records = ReadCapture(dir / "lines.cap");
    EXPECT_EQ(records, session.records);
    ASSERT_EQ(records.size(), scripted.size() + 3);
    for (std::size_t i = 0; i < scripted.size(); ++i) {
        EXPECT_EQ(records[i + 1].event.kind, scripted[i].kind);
        EXPECT_EQ(records[i + 1].time, scripted[i].time);
    }
    EXPECT_EQ(records[scripted.size() + 1].time, (LineTime{5'000'300, 1'765'000'000'000'300}));
    EXPECT_EQ(FileText(dir / "lines.raw"), "\x01\x02\x03");
}

// Restores the file-size limit on the way out.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }

  private:
    rlimit old_{};
};

TEST(CaptureWriterTest, AFileThatTakesNoMoreStopsTheCaptureOnceSayingWhere) {
    TempDir dir;
    const LineTime at{1'000'000, 1'765'000'000'000'000};
    struct Row {
        const char* name;
        std::function<std::string()> prepare;  // the file to write into
        std::function<void(const std::string&)> afterFirst;
        const char* reason;
    } rows[] = {
        {"full disk", [] { return std::string("/dev/full"); }, nullptr, "No space left on device"},
        {"file-size limit", [&] { return dir / "limited.cap"; }, nullptr, "File too large"},
        {"file removed", [&] { return dir / "removed.cap"; },
         [](const std::string& path) { std::filesystem::remove(path); }, "the file was removed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = row.prepare();
        std::optional<FileSizeLimit> limit;
        if (std::string(row.name) == "file-size limit")
            limit.emplace(4096);
        StopLog log;
        CaptureWriter writer(path, CaptureForm::kTimed, log.Handler());
        writer.Received("first", at);
        writer.Flush();
        if (row.afterFirst)
            row.afterFirst(path);
        for (int i = 0; i < 8; ++i) writer.Received(std::string(1000, 'x'), at);
        writer.Flush();
        EXPECT_TRUE(writer.Stopped());
        writer.Received("after the stop", at);
        writer.Flush();
        const auto stops = log.Stops();
        ASSERT_EQ(stops.size(), 1u);
        EXPECT_EQ(stops[0].reason, row.reason);
        EXPECT_EQ(stops[0].path, path);
        EXPECT_NE(stops[0].Message().find("The capture to " + path + " stopped: " + row.reason),
                  std::string::npos);
        if (std::string(row.name) == "file-size limit") {
            // Whole records only count as in: the first and one more of 2 KiB
            // lines; the file ends where the second ends, not at the limit.
            std::string whole(kTimedHeader);
            AppendRecordLine({.kind = RecordKind::kReceived, .time = at, .bytes = "first"}, whole);
            AppendRecordLine(
                {.kind = RecordKind::kReceived, .time = at, .bytes = std::string(1000, 'x')},
                whole);
            EXPECT_EQ(stops[0].fileBytes, whole.size());
            EXPECT_EQ(FileText(path), whole);
            EXPECT_EQ(stops[0].receivedBytes, 5u + 1000u);
            EXPECT_EQ(stops[0].lastTime, at);
            EXPECT_NE(stops[0].Message().find("1005 bytes received, 0 sent"), std::string::npos)
                << stops[0].Message();
        }
    }
}

// A small tmpfs of its own, unmounted on the way out; empty where the test
// may not mount one (not root, no permission in a container).
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        std::filesystem::create_directories(path);
        mounted_ = ::geteuid() == 0 &&
                   ::mount("tarvik-test", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

// A real disk filling up under both captures at once: each stops once; the
// timed one ends at its last whole record, so it reads back without a
// warning and every record in it is one handed over; the raw one holds a
// prefix of the bytes received.
TEST(CaptureWriterTest, AFullDiskLeavesATimedCaptureEndingAtItsLastWholeRecord) {
    TempDir dir;
    const SmallDisk disk(dir / "disk");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    StopLog timedLog, rawLog;
    CaptureWriter timed(dir / "disk/session.cap", CaptureForm::kTimed, timedLog.Handler());
    CaptureWriter raw(dir / "disk/session.raw", CaptureForm::kRaw, rawLog.Handler());
    std::string received;
    for (int i = 0; i < 200 && !(timed.Stopped() && raw.Stopped()); ++i) {
        const std::string block(700 + i, static_cast<char>('a' + i % 26));
        const LineTime at{1'000'000 + i, 1'765'000'000'000'000 + i};
        timed.Received(block, at);
        raw.Received(block, at);
        received += block;
        timed.Flush();
        raw.Flush();
    }
    ASSERT_EQ(timedLog.Stops().size(), 1u);
    ASSERT_EQ(rawLog.Stops().size(), 1u);
    EXPECT_EQ(timedLog.Stops()[0].reason, "No space left on device");

    const std::string text = FileText(dir / "disk/session.cap");
    EXPECT_EQ(timedLog.Stops()[0].fileBytes, text.size());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::string warning;
    const auto records = ParseCapture(text, &warning);
    EXPECT_EQ(warning, "");
    std::string inFile;
    for (const auto& record : records) inFile += record.bytes;
    EXPECT_EQ(inFile.size(), timedLog.Stops()[0].receivedBytes);
    EXPECT_TRUE(received.starts_with(inFile));
    EXPECT_TRUE(received.starts_with(FileText(dir / "disk/session.raw")));
}

TEST(CaptureWriterTest, ADiskThatDoesNotKeepUpStopsTheCaptureWithoutAHoleAndAFifoStaysAFifo) {
    TempDir dir;
    const std::string fifo = dir / "reader.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    StopLog log;
    constexpr std::size_t kBlock = 65536;
    {
        CaptureWriter writer(fifo, CaptureForm::kRaw, log.Handler(), 4 * kBlock);
        // Nobody reads: the pipe fills, the writer waits on it, the queue fills.
        // Handing over never waits for any of it.
        int handed = 0;
        for (; handed < 64 && !writer.Stopped(); ++handed)
            writer.Received(std::string(kBlock, static_cast<char>(handed)),
                            {1 + handed, 1 + handed});
        EXPECT_TRUE(writer.Stopped());
        EXPECT_LT(handed, 64);
        std::string read;
        char buffer[65536];
        while (log.Stops().empty()) {
            pollfd fd{reader, POLLIN, 0};
            ::poll(&fd, 1, 1000);
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0)
                read.append(buffer, static_cast<std::size_t>(n));
        }
        for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
            read.append(buffer, static_cast<std::size_t>(n));
        // Whole blocks from the first on, then nothing: the file ends where it says.
        ASSERT_EQ(read.size() % kBlock, 0u);
        ASSERT_GT(read.size(), 0u);
        for (std::size_t i = 0; i < read.size(); i += kBlock)
            ASSERT_EQ(read[i], static_cast<char>(i / kBlock)) << i;
        const auto stop = log.Stops().front();
        EXPECT_NE(stop.reason.find("the disk did not keep up"), std::string::npos) << stop.reason;
        EXPECT_EQ(stop.receivedBytes, read.size());
        EXPECT_EQ(stop.fileBytes, read.size());
    }
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(log.Stops().size(), 1u);
}

TEST(CaptureWriterTest, AReaderThatStopsReadingDoesNotHoldUpTheEnd) {
    TempDir dir;
    const std::string fifo = dir / "stuck.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    StopLog log;
    {
        CaptureWriter writer(fifo, CaptureForm::kRaw, log.Handler());
        writer.Received(std::string(1 << 20, 'x'), {1, 1});
    }  // ends after the sink gave up, not never
    ::close(reader);
    const auto stops = log.Stops();
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].reason, "its reader took nothing more when the capture ended");
    EXPECT_GT(stops[0].fileBytes, 0u);
    EXPECT_EQ(stops[0].receivedBytes, 0u);  // the one record is not wholly in
}

TEST(CaptureWriterTest, AFileThatCannotBeMadeIsRefusedNamingIt) {
    TempDir dir;
    const std::string fifo = dir / "nobody.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir / "no/such/folder.cap", fifo}) {
        try {
            CaptureWriter writer(path, CaptureForm::kTimed, nullptr);
            ADD_FAILURE() << path;
        } catch (const std::system_error& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace tarvik::capture
