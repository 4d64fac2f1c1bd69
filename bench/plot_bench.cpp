// The plot under a steady stream: 16 channels printed at 1000 lines/s into a
// pty whose other end the real window opens, with the plot open. Measures
//  - samples lost: the exported CSV against what was written (0 expected);
//  - frames the plot drew per second while the stream ran (30 or more);
//  - the longest stall of the window's event loop (a 5 ms probe timer's
//    latest tick; 50 ms at most);
//  - the memory the process grew by (VmRSS before and after).
// plot_bench [--seconds N] [--rate LINES_PER_S]   (defaults: 60 s, 1000 lines/s)
// Beside the stall it prints a plain 5 ms sleeper thread's longest gap, the
// floor a shared machine allows; PLOT_BENCH_STALLS=1 lists every stall over 30 ms.

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/frmmain.h"
#include "app/plot_view.h"
#include "app/plot_window.h"
#include "bench/window_setup.h"
#include "samples/sample_csv.h"
#include "serial/port/com_port.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 16;

// Exact in binary and in the shortest decimal form, so a value read back compares equal.
double Value(long line, int channel) { return ((line * 37 + channel * 1001) % 100000) / 8.0 - 5000; }

std::string Line(long line) {
    std::string text;
    char cell[32];
    for (int c = 0; c < kChannels; ++c) {
        std::snprintf(cell, sizeof cell, c == 0 ? "%.10g" : ",%.10g", Value(line, c));
        text += cell;
    }
    return text + "\n";
}

// The far end: writes the header, then `lines` lines at `rate` a second on
// an absolute schedule (a late wake-up writes what fell due together).
class Writer {
  public:
    Writer() {
        char name[128];
        int slave = -1;
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        close(slave);
        path_ = name;
    }
    ~Writer() {
        if (thread_.joinable())
            thread_.join();
        close(master_);
    }
    const std::string& Path() const { return path_; }
    void Start(long lines, int rate) {
        thread_ = std::thread([this, lines, rate] {
            std::string header;
            for (int c = 0; c < kChannels; ++c) header += (c ? ",ch" : "ch") + std::to_string(c + 1);
            Put(header + "\n");
            const auto t0 = Clock::now();
            for (long i = 0; i < lines;) {
                const auto due = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0)
                                     .count() * rate / 1'000'000;
                std::string block;
                for (; i < lines && i <= due; ++i) block += Line(i);
                Put(block);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done_ = true;
        });
    }
    bool Done() const { return done_; }

  private:
    void Put(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(master_, bytes.data() + at, bytes.size() - at);
            if (n < 0)
                throw std::runtime_error(std::string("write: ") + std::strerror(errno));
            at += static_cast<std::size_t>(n);
        }
    }
    int master_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

std::string Uptime() {
    std::ifstream load("/proc/loadavg");
    std::string one, five, fifteen;
    load >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int rate = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rate") == 0)
            rate = std::atoi(argv[i + 1]);
    }
    if (seconds <= 0 || rate <= 0) {
        std::fprintf(stderr, "usage: plot_bench [--seconds N] [--rate LINES_PER_S]\n");
        return 2;
    }
    bench::UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);
    try {
        Writer writer;
        tarvik::Tfrmmain window(nullptr, writer.Path());
        bench::ShowAndWait(window);
        window.BitBtn2Click();  // Start
        if (!window.C1->Connected())
            throw std::runtime_error("cannot open " + writer.Path());
        window.OpenPlot(samples::SampleFormat::kCsv, true);
        tarvik::TPlotWindow& plot = *window.Plot();
        bench::ShowAndWait(plot);

        Clock::duration worstGap{};
        Clock::time_point lastTick = Clock::now();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        Clock::time_point worstAt{};
        Clock::time_point streamStart{};
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            if (std::getenv("PLOT_BENCH_STALLS") && now - lastTick > std::chrono::milliseconds(30))
                std::fprintf(stderr, "stall %.1f ms at %.3f s\n",
                             std::chrono::duration<double, std::milli>(now - lastTick).count(),
                             std::chrono::duration<double>(now - streamStart).count());
            if (now - lastTick > worstGap) {
                worstGap = now - lastTick;
                worstAt = now;
            }
            lastTick = now;
        });

        const long lines = static_cast<long>(seconds) * rate;
        const long long rss0 = bench::StatusBytes("VmRSS");
        const std::uint64_t frames0 = plot.View->Frames();
        const auto t0 = Clock::now();
        streamStart = t0;
        lastTick = t0;
        probe.start();
        // The machine's own floor: a plain thread sleeping 5 ms at a time
        // beside the window, its longest gap over the same stretch.
        std::atomic<bool> sleeperDone{false};
        Clock::duration sleeperWorst{};
        std::thread sleeper([&] {
            Clock::time_point last = Clock::now();
            while (!sleeperDone.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                const auto now = Clock::now();
                sleeperWorst = std::max(sleeperWorst, now - last);
                last = now;
            }
        });
        writer.Start(lines, rate);
        double sendSeconds = 0;
        std::uint64_t framesWhileSending = 0;
        QEventLoop loop;
        QTimer watch;
        watch.setInterval(20);
        const auto limit = t0 + std::chrono::seconds(seconds + 30);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (writer.Done() && sendSeconds == 0) {
                sendSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
                framesWhileSending = plot.View->Frames() - frames0;
            }
            if ((writer.Done() && plot.Store().Count(kChannels - 1) >= std::size_t(lines)) ||
                Clock::now() > limit)
                loop.quit();
        });
        watch.start();
        loop.exec();
        probe.stop();
        sleeperDone = true;
        sleeper.join();
        const long long rss1 = bench::StatusBytes("VmRSS");

        QTemporaryDir dir;
        const QString file = dir.filePath("samples.csv");
        plot.ExportCsv(file);
        std::ifstream in(file.toStdString());
        std::stringstream text;
        text << in.rdbuf();
        const samples::SampleCsv csv = samples::ReadSampleCsv(text.str());
        long equal = 0;
        for (long i = 0; i < lines && i < long(csv.rows.size()); ++i) {
            bool same = csv.rows[i].values.size() == kChannels;
            for (int c = 0; same && c < kChannels; ++c)
                same = csv.rows[i].values[c] == Value(i, c);
            equal += same;
        }
        const double fps = sendSeconds > 0 ? framesWhileSending / sendSeconds : 0;
        const double stallMs = std::chrono::duration<double, std::milli>(worstGap).count();
        std::printf("lines written              %ld (%d channels, %d lines/s, %d s)\n", lines, kChannels,
                    rate, seconds);
        std::printf("rows exported              %zu, equal to what was written: %ld\n", csv.rows.size(), equal);
        std::printf("samples lost               %ld\n", (lines - equal) * kChannels);
        std::printf("frames drawn per second    %.1f (%llu frames in %.1f s)\n", fps,
                    static_cast<unsigned long long>(framesWhileSending), sendSeconds);
        std::printf("longest event-loop stall   %.1f ms (ended %.1f s after the stream began)\n",
                    stallMs, std::chrono::duration<double>(worstAt - t0).count());
        std::printf("a plain 5 ms sleeper's     %.1f ms (the machine's floor in the same run)\n",
                    std::chrono::duration<double, std::milli>(sleeperWorst).count());
        std::printf("VmRSS before / after       %.1f / %.1f MB (grew %.1f MB)\n", rss0 / 1e6, rss1 / 1e6,
                    (rss1 - rss0) / 1e6);
        std::printf("load average               %s\n", Uptime().c_str());
        for (const std::string& box : boxes) std::printf("box: %s\n", box.c_str());
        const bool ok = equal == lines && csv.rows.size() == std::size_t(lines) && fps >= 30 && stallMs <= 50 &&
                        boxes.empty();
        std::printf("%s\n", ok ? "PASS" : "MISSED (see above)");
        return ok ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "plot_bench: %s\n", error.what());
        return 1;
    }
}
