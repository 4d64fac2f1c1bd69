// One line per message on a loaded machine, every cut judged against the far
// end's own write times. The far end (a process of its own on a pty's master)
// writes Modbus RTU frames (4 to 20 bytes and their CRC-16/MODBUS) one byte
// at a time, busy-waiting a character time (11 bits at 19200 baud) between
// bytes and pausing 6 to 30 ms between frames, and logs the time of every
// write. Meanwhile K processes spin on the CPUs. The window frames by the
// automatic gap (3.5 character times, 2006 µs at 19200 8E1), once by timing
// alone and once with CRC-16/MODBUS chosen.
// Judged from the far end's log, for each pair of neighbouring bytes: a cut
// where the real gap was below the gap is a wrong cut, no cut where it was
// above is a missed cut. The far end logs the time before and after each
// write, so a real gap is known within an interval; gaps whose interval
// reaches within 250 µs of the gap are counted apart. A real gap above the
// gap left uncut where the window's arrival times could not tell (the port
// read the bytes too late to see it) is not a missed cut but undecided by
// timing: the check value decides it. With the check value, every frame must
// be one message (frames split, frames merged).
// Usage: framing_bench [frames (default 300)] [load processes (default 4)]
//                      [their nice value (default 0: as busy as the window)]

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "app/line_list.h"
#include "bench/window_setup.h"
#include "codec/check_value.h"

namespace {

constexpr std::int64_t kCharacterUs = 573;  // 11 bits at 19200 baud
constexpr std::int64_t kMarginUs = 250;

std::int64_t MonoUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

struct Frames {
    std::string bytes;
    std::vector<std::size_t> ends;  // where each frame ends in bytes
};

Frames MakeFrames(int count, unsigned seed) {
    std::mt19937 random(seed);
    const fun::TCheckValue& crc = *fun::FindCheckValue("CRC-16/MODBUS");
    Frames frames;
    for (int i = 0; i < count; ++i) {
        std::string body(4 + random() % 17, '\0');
        for (char& c : body) c = static_cast<char>(random());
        body += fun::CheckValueBytes(
            crc, {reinterpret_cast<const std::uint8_t*>(body.data()), body.size()});
        frames.bytes += body;
        frames.ends.push_back(frames.bytes.size());
    }
    return frames;
}

// The far end: waits for the go, then writes and logs; never returns.
[[noreturn]] void FarEnd(int master, int go, const Frames& frames, const char* logPath,
                         unsigned seed) {
    std::mt19937 random(seed);
    char start = 0;
    if (read(go, &start, 1) != 1)
        _exit(1);
    std::vector<std::int64_t> times;  // before and after each write
    std::size_t frame = 0;
    for (std::size_t i = 0; i < frames.bytes.size(); ++i) {
        times.push_back(MonoUs());
        if (write(master, &frames.bytes[i], 1) != 1)
            _exit(1);
        times.push_back(MonoUs());
        if (i + 1 == frames.ends[frame]) {
            ++frame;
            const timespec pause{0, long(6'000 + random() % 24'000) * 1000};
            nanosleep(&pause, nullptr);
        } else {
            const std::int64_t until = times.back() + kCharacterUs;
            while (MonoUs() < until) {
            }
        }
    }
    std::FILE* log = std::fopen(logPath, "wb");
    std::fwrite(times.data(), sizeof(std::int64_t), times.size(), log);
    std::fclose(log);
    const timespec drain{0, 200'000'000};  // the last bytes are read before the hang-up
    nanosleep(&drain, nullptr);
    _exit(0);
}

struct Judged {
    int wrongCuts = 0;
    int missedCuts = 0;
    int untold = 0;
    int undecided = 0;  // real gaps above the gap that the arrival times could not show
    int framesSplitOrMerged = 0;
    int messages = 0;
    bool whole = true;
};

Judged Judge(const Frames& frames, const std::vector<std::int64_t>& times,
             const std::vector<std::size_t>& lengths, const std::set<std::uint64_t>& undecided) {
    Judged judged;
    std::set<std::size_t> cuts;  // a cut after byte i is i + 1
    std::size_t at = 0;
    for (const std::size_t length : lengths) cuts.insert(at += length);
    judged.messages = int(lengths.size());
    judged.whole = at == frames.bytes.size() && times.size() == 2 * frames.bytes.size();
    if (!judged.whole)
        return judged;
    for (std::size_t i = 0; i + 1 < frames.bytes.size(); ++i) {
        // The byte went into the line between the times before and after its write.
        const std::int64_t least = times[2 * i + 2] - times[2 * i + 1];
        const std::int64_t most = times[2 * i + 3] - times[2 * i];
        const bool cut = cuts.count(i + 1) != 0;
        if (least < 2006 + kMarginUs && most > 2006 - kMarginUs)
            ++judged.untold;
        else if (cut && most < 2006)
            ++judged.wrongCuts;
        else if (!cut && least >= 2006 && undecided.count(i + 1) != 0)
            ++judged.undecided;
        else if (!cut && least >= 2006)
            ++judged.missedCuts;
    }
    std::size_t start = 0;
    for (const std::size_t end : frames.ends) {
        if (!(cuts.count(end) != 0 && (start == 0 || cuts.count(start) != 0)))
            ++judged.framesSplitOrMerged;
        else {
            for (std::size_t i = start + 1; i < end; ++i) {
                if (cuts.count(i) != 0) {
                    ++judged.framesSplitOrMerged;
                    break;
                }
            }
        }
        start = end;
    }
    return judged;
}

}  // namespace

int main(int argc, char** argv) {
    const int frameCount = argc > 1 ? std::atoi(argv[1]) : 300;
    const int load = argc > 2 ? std::atoi(argv[2]) : 4;
    const int loadNice = argc > 3 ? std::atoi(argv[3]) : 0;
    std::vector<pid_t> spinners;
    for (int i = 0; i < load; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (nice(loadNice) == -1 && loadNice != -1)
                _exit(1);
            for (;;) {
            }
        }
        spinners.push_back(pid);
    }
    const Frames frames = MakeFrames(frameCount, 27);
    struct Run {
        const char* name = "";
        const char* check = nullptr;
        int master = -1;
        int slave = -1;
        int go[2] = {-1, -1};
        pid_t far = 0;
        std::string log;
        std::string port;
    } runs[2];
    runs[0].name = "timing alone";
    runs[1].name = "with CRC-16/MODBUS";
    runs[1].check = "CRC-16/MODBUS";
    for (Run& run : runs) {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&run.master, &run.slave, name, &raw, nullptr) != 0 || pipe(run.go) != 0)
            return 1;
        run.port = name;
        run.log = "/tmp/framing_bench_" + std::to_string(getpid()) + "_" +
                  std::to_string(&run - runs) + ".log";
        run.far = fork();
        if (run.far == 0) {
            // Only the master: a slave held here would make the port look busy.
            for (Run& other : runs) {
                if (other.slave >= 0)
                    close(other.slave);
                if (&other != &run && other.master >= 0)
                    close(other.master);
            }
            FarEnd(run.master, run.go[0], frames, run.log.c_str(), 99);
        }
    }

    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);
    std::printf("%d frames, %zu bytes; %d spinning processes (nice %d) on %ld CPUs; gap 2006 us\n",
                frameCount, frames.bytes.size(), load, loadNice, sysconf(_SC_NPROCESSORS_ONLN));
    bool clean = true;
    for (Run& run : runs) {
        tarvik::TLineOptions options;
        options.messages = tarvik::TMessageRule::GapAuto;
        options.check = run.check != nullptr ? fun::FindCheckValue(run.check) : nullptr;
        tarvik::Tfrmmain window(nullptr, run.port, options);
        bench::ShowAndWait(window);
        window.BitBtn2->click();  // Start
        std::set<std::uint64_t> undecided;
        window.MessageFramer().WatchUndecided([&](std::uint64_t at) { undecided.insert(at); });
        if (write(run.go[1], "g", 1) != 1)
            return 1;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            int status = 0;
            if (waitpid(run.far, &status, WNOHANG) == run.far)
                loop.quit();
        });
        poll.start(20);
        loop.exec();
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        window.BitBtn3->click();  // Stop
        std::vector<std::size_t> lengths;
        tarvik::TLineList& log = *window.RX1;
        for (int row = log.count() - 1; row >= 0; --row) {
            const std::string_view line = log.Lines()->Line(row);
            const std::size_t open = line.rfind(" (");
            if (open == std::string_view::npos)
                continue;
            lengths.push_back(std::strtoul(std::string(line.substr(open + 2)).c_str(), nullptr, 10));
        }
        std::vector<std::int64_t> times(2 * frames.bytes.size());
        std::FILE* file = std::fopen(run.log.c_str(), "rb");
        times.resize(file ? std::fread(times.data(), sizeof(std::int64_t), times.size(), file) : 0);
        if (file)
            std::fclose(file);
        std::remove(run.log.c_str());
        const Judged judged = Judge(frames, times, lengths, undecided);
        // With the check value, a real gap inside a frame (the far end
        // stalled) is joined on purpose: not a missed cut there.
        std::printf("%-20s %4d messages for %d frames: %d wrong cuts, %d %s, %d real gaps "
                    "undecided by timing (%d gaps within %lld us of the gap, not judged), %d "
                    "frames split or merged%s\n",
                    run.name, judged.messages, frameCount, judged.wrongCuts, judged.missedCuts,
                    run.check == nullptr ? "missed cuts" : "real gaps joined by the check value",
                    judged.undecided, judged.untold, static_cast<long long>(kMarginUs),
                    judged.framesSplitOrMerged, judged.whole ? "" : " (NOT ALL BYTES LOGGED)");
        // Timing alone is judged by its cuts; with the check value, by its frames
        // (a far end that stalled mid-frame made a real gap the check then mends).
        clean = clean && judged.whole &&
                (run.check == nullptr ? judged.wrongCuts == 0 && judged.missedCuts == 0
                                      : judged.framesSplitOrMerged == 0);
        close(run.slave);
        close(run.master);
    }
    for (const std::string& box : boxes) std::printf("box: %.200s\n", box.c_str());
    for (const pid_t pid : spinners) kill(pid, SIGKILL);
    for (const pid_t pid : spinners) waitpid(pid, nullptr, 0);
    return clean ? 0 : 1;
}
