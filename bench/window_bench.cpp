// The terminal's real window flooded by the device simulator: tarvik-sim
// streams a fixed volume as fast as the pty carries it, the window shows
// every block as a line in "Rx 1". Printed:
//  - bytes per second shown in the logs, and the same volume read by a plain
//    reader on the same pty as the ceiling;
//  - the sum of the counts in the lines against the bytes sent, and whether
//    every line's bytes continue the stream (nothing lost, nothing doubled);
//  - the longest stall of the main thread's event loop (gap between ticks of
//    a 5 ms timer, less 5 ms) and the slowest single arrival;
//  - resident memory growth, CPU time per megabyte, and how busy the main
//    thread was during the flood;
//  - wake-ups per second of the idle window with the port open.
// Usage: window_bench [MiB] [off|all|both] (default 32, off). "all" turns on
// the log options that cost the most (time of day in front of each line, sent
// blocks, one line per message by the automatic gap, line events); "both"
// floods once with them off and once on, and prints the rate ratio;
// "capture" floods once without and once with the session captured (timed
// form), prints the rate ratio and compares the capture with the stream. Runs on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "app/line_list.h"
#include "base/message_box.h"
#include "bench/streaming_simulator.h"
#include "bench/window_setup.h"
#include "capture/capture_load.h"
#include "serial/port/com_port.h"
#include "tools/simulator/simulator.h"

namespace {

using bench::Child;
using bench::StartSimulator;
using bench::StopSimulator;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// In KiB, as the summary prints MB of them.
long StatusKb(const char* field) {
    return static_cast<long>(bench::StatusBytes(field) / 1024);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread, in seconds (from the scheduler's own
// account, which counts what getrusage splits by process only).
double ThreadCpuSeconds() {
    std::ifstream schedstat("/proc/thread-self/schedstat");
    double runNs = 0;
    schedstat >> runNs;
    return runNs / 1e9;
}

// Context switches of every thread of the process: each one is a wake-up.
long ContextSwitches() {
    long total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        std::ifstream status("/proc/self/task/" + task.toStdString() + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
        }
    }
    return total;
}

// Checks each new line of the log against the stream: its bytes must be the
// next ones, and the count in parentheses their number.
class StreamChecker {
  public:
    // By hand over the line's own bytes, without allocating: the checker
    // runs on the measured thread.
    void Line(const tarvik::Text& text) {
        const char* begin = text.data();
        const char* end = begin + text.size();
        if (timestamps) {
            // "hh:mm:ss.mmm " in front of every line.
            while (begin < end && *begin != ' ') ++begin;
            if (begin < end)
                ++begin;
        }
        // Sent blocks and line events are no part of the stream.
        if (end - begin >= 3 && (begin[0] == '>' || begin[0] == '=') && begin[1] == begin[0] &&
            begin[2] == ' ')
            return;
        const char* open = end;
        for (const char* p = end - 1; p > begin; --p) {
            if (*p == '(' && p[-1] == ' ') {
                open = p - 1;
                break;
            }
        }
        if (open == end || end[-1] != ')') {
            if (!text.empty())
                ++badLines;
            return;
        }
        std::uint64_t count = 0;
        for (const char* p = open + 2; p < end - 1; ++p) count = count * 10 + unsigned(*p - '0');
        countSum += count;
        ++lines;
        std::uint64_t inLine = 0;
        for (const char* p = begin; p < open;) {
            if (*p == ' ') {
                ++p;
                continue;
            }
            const char* token = p;
            while (p < open && *p != ' ') ++p;
            int value = -1;
            if (p - token == 4 && token[0] == '0' && token[1] == 'x') {
                value = Hex(token[2]) * 16 + Hex(token[3]);
            } else if (p - token == 1) {
                value = static_cast<unsigned char>(token[0]);
            }
            if (value != tarvik::sim::StreamByte(next))
                ++wrongBytes;
            ++next;
            ++inLine;
        }
        if (inLine != count)
            ++badLines;
    }

    static int Hex(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

    bool timestamps = false;
    std::uint64_t countSum = 0;
    std::uint64_t next = 0;  // bytes seen in the lines
    std::uint64_t lines = 0;
    std::uint64_t wrongBytes = 0;
    std::uint64_t badLines = 0;
};

// A plain reader on the pty: raw mode, read until the volume is in.
double RawReaderSeconds(const std::string& path, std::uint64_t volume) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw std::runtime_error("open " + path);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    std::vector<char> buffer(64 * 1024);
    const auto start = Clock::now();
    if (write(fd, "\x01", 1) != 1)
        throw std::runtime_error("write " + path);
    std::uint64_t got = 0;
    while (got < volume) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            break;
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n > 0)
            got += static_cast<std::uint64_t>(n);
    }
    const double seconds = Seconds(Clock::now() - start);
    close(fd);
    if (got != volume)
        std::fprintf(stderr, "raw reader: %llu of %llu bytes\n", (unsigned long long)got,
                     (unsigned long long)volume);
    return seconds;
}

struct Flood {
    double rate = 0;  // bytes per second shown
    int status = 0;   // 0: every byte shown once (and captured), no box
};

// The received bytes of a timed capture against the stream: how many there
// are, how many differ, and why it could not be read.
struct CaptureCheck {
    std::uint64_t bytes = 0;
    std::uint64_t wrong = 0;
    std::string error;
};

CaptureCheck CheckCapture(const std::string& path) {
    CaptureCheck check;
    try {
        std::uint64_t n = 0;
        // Read as it streams: a flood's capture may be larger than a load takes.
        tarvik::capture::CaptureFile file(path);
        file.ForEach([&](tarvik::capture::CaptureRecord&& record) {
            if (record.kind != tarvik::capture::RecordKind::kReceived)
                return;
            for (const char c : record.bytes) {
                if (static_cast<std::uint8_t>(c) != tarvik::sim::StreamByte(n++))
                    ++check.wrong;
            }
            check.bytes += record.bytes.size();
        });
    } catch (const std::exception& error) {
        check.error = error.what();
    }
    return check;
}

// `capturePath`: the session is captured there in the timed form ("": not).
Flood RunFlood(std::uint64_t mib, const tarvik::TLineOptions& options,
               std::vector<std::string>& boxes, const std::string& capturePath = {}) {
    const std::uint64_t volume = mib << 20;
    const Child simulator = StartSimulator(volume);
    Flood flood;
    {
        tarvik::Tfrmmain window(nullptr, simulator.path, options);
        bench::ShowAndWait(window);
        if (!capturePath.empty())
            window.StartCapture(capturePath, tarvik::capture::CaptureForm::kTimed);

        StreamChecker checker;
        checker.timestamps = options.timestamps != tarvik::timeline::TimestampMode::Off;
        tarvik::TLineList* log = window.RX1;
        // A batch of arrivals goes in newest first.
        QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, log,
                         [&checker, log](const QModelIndex&, int first, int last) {
                             for (int row = last; row >= first; --row)
                                 checker.Line(tarvik::Text(log->Lines()->Line(row)));
                         });

        window.BitBtn2Click();  // Start
        if (!window.C1->Connected())
            throw std::runtime_error("cannot open " + simulator.path);

        // The stall probe: a 5 ms timer whose late ticks show the loop was busy.
        Clock::duration worstGap{};
        Clock::duration worstAt{};  // when the longest stall ended, from the start
        std::uint64_t worstLines = 0;
        Clock::time_point t0;
        Clock::time_point lastTick = Clock::now();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            if (now - lastTick > worstGap) {
                worstGap = now - lastTick;
                worstAt = now - t0;
                worstLines = checker.lines;
            }
            lastTick = now;
        });

        const long rss0 = StatusKb("VmRSS");
        const double cpu0 = CpuSeconds();
        const double mainCpu0 = ThreadCpuSeconds();
        t0 = Clock::now();
        lastTick = t0;
        probe.start();
        window.ComboBox1->setEditText(QStringLiteral("0x01"));
        window.BitBtn1Click();  // the stream begins

        QEventLoop loop;
        std::uint64_t seen = 0;
        Clock::time_point progress = Clock::now();
        QTimer watch;
        watch.setInterval(100);
        int ticks = 0;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (++ticks % 10 == 0 && qEnvironmentVariableIsSet("WINDOW_BENCH_PROGRESS"))
                std::fprintf(stderr, "%.1f s: %llu bytes in %llu lines\n",
                             Seconds(Clock::now() - t0), (unsigned long long)checker.countSum,
                             (unsigned long long)checker.lines);
            if (checker.countSum >= volume || !boxes.empty()) {
                loop.quit();
            } else if (checker.countSum != seen) {
                seen = checker.countSum;
                progress = Clock::now();
            } else if (Clock::now() - progress > std::chrono::seconds(10)) {
                loop.quit();
            }
        });
        watch.start();
        loop.exec();
        const auto t1 = Clock::now();
        const double cpu1 = CpuSeconds();
        const double mainCpu1 = ThreadCpuSeconds();
        const long rss1 = StatusKb("VmRSS");
        probe.stop();
        watch.stop();

        // Idle with the port open: every context switch of any thread is a
        // wake-up. The last frame of lines ends first.
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
        const long switches0 = ContextSwitches();
        QEventLoop idle;
        QTimer::singleShot(5000, &idle, &QEventLoop::quit);  // itself one wake-up
        idle.exec();
        const long idleWakes = ContextSwitches() - switches0 - 1;

        window.BitBtn3Click();  // Stop
        std::optional<CaptureCheck> captured;
        if (!capturePath.empty()) {
            window.StopCapture(tarvik::capture::CaptureForm::kTimed);  // the file complete
            captured = CheckCapture(capturePath);
        }
        const double rawSeconds = RawReaderSeconds(simulator.path, volume);

        const double seconds = Seconds(t1 - t0);
        const double windowRate = double(checker.countSum) / seconds;
        const double rawRate = double(volume) / rawSeconds;
        const double mb = double(checker.countSum) / 1e6;
        std::printf("volume                     %llu bytes (%llu MiB)\n",
                    (unsigned long long)volume, (unsigned long long)mib);
        std::printf(
            "window shown               %.1f MB/s  (%.2f s, %llu lines, %.0f bytes a line)\n",
            windowRate / 1e6, seconds, (unsigned long long)checker.lines,
            checker.lines ? double(checker.countSum) / double(checker.lines) : 0.0);
        std::printf("raw reader, same pty       %.1f MB/s  (%.2f s)\n", rawRate / 1e6, rawSeconds);
        std::printf("window / raw               %.3f\n", windowRate / rawRate);
        std::printf("counts in lines            %llu of %llu sent: %s\n",
                    (unsigned long long)checker.countSum, (unsigned long long)volume,
                    checker.countSum == volume ? "match" : "MISMATCH");
        std::printf("stream check               %llu wrong bytes, %llu bad lines\n",
                    (unsigned long long)checker.wrongBytes, (unsigned long long)checker.badLines);
        std::printf("longest event-loop stall   %.1f ms (ending %.2f s in, after %llu lines)\n",
                    std::max(0.0, Seconds(worstGap) * 1e3 - 5.0), Seconds(worstAt),
                    (unsigned long long)worstLines);
        std::printf("resident memory growth     %.1f MB (%.1f -> %.1f MB; peak %.1f MB)\n",
                    double(rss1 - rss0) / 1024.0, double(rss0) / 1024.0, double(rss1) / 1024.0,
                    double(StatusKb("VmHWM")) / 1024.0);
        std::printf("CPU per MB                 %.1f ms\n",
                    mb > 0 ? (cpu1 - cpu0) * 1e3 / mb : 0.0);
        std::printf("main thread busy           %.0f %% of the flood\n",
                    (mainCpu1 - mainCpu0) / seconds * 100);
        std::printf("idle wake-ups, port open   %.1f per second (%ld in 5 s)\n",
                    double(idleWakes) / 5.0, idleWakes);
        if (captured) {
            std::printf("capture holds              %llu of %llu bytes, %llu wrong%s%s\n",
                        (unsigned long long)captured->bytes, (unsigned long long)volume,
                        (unsigned long long)captured->wrong,
                        captured->error.empty() ? "" : ", unreadable: ", captured->error.c_str());
        }
        for (const std::string& box : boxes) std::printf("error box: %s\n", box.c_str());
        flood.rate = windowRate;
        const bool captureGood = !captured || (captured->bytes == volume && captured->wrong == 0 &&
                                               captured->error.empty());
        flood.status =
            checker.countSum == volume && checker.wrongBytes == 0 && boxes.empty() && captureGood
                ? 0
                : 1;
    }
    StopSimulator(simulator);
    return flood;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 32;
    const std::string which = argc > 2 ? argv[2] : "off";
    if (which != "off" && which != "all" && which != "both" && which != "capture") {
        std::fprintf(stderr, "usage: window_bench [MiB] [off|all|both|capture]\n");
        return 2;
    }
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);

    tarvik::TLineOptions all;
    all.timestamps = tarvik::timeline::TimestampMode::TimeOfDay;
    all.logSent = true;
    all.messages = tarvik::TMessageRule::GapAuto;
    all.logEvents = true;

    Flood off;
    Flood on;
    if (which != "all") {
        std::printf("--- log options off\n");
        off = RunFlood(mib, {}, boxes);
    }
    if (which == "capture") {
        QTemporaryDir dir;
        std::printf("--- the session captured (timed form)\n");
        on = RunFlood(mib, {}, boxes, dir.filePath(QStringLiteral("flood.cap")).toStdString());
        std::printf("shown rate, capture on / off   %.3f\n",
                    off.rate > 0 ? on.rate / off.rate : 0.0);
    } else if (which != "off") {
        std::printf("--- timestamps, sent blocks, automatic gap, line events on\n");
        on = RunFlood(mib, all, boxes);
    }
    if (which == "both")
        std::printf("shown rate, options on / off   %.3f\n",
                    off.rate > 0 ? on.rate / off.rate : 0.0);
    return off.status | on.status;
}
