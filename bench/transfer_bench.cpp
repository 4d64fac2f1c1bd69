// File transfers through socat's pty pairs, ours beside lrzsz's in the same
// run: a file of random bytes by XMODEM-1K and by YMODEM, our sender to
// rx/rb and sx/sb to rx/rb on a pair of the same kind, and our receiver
// from sx/sb. Each rate runs from the start of the sending side to the end
// of both. Then paced text: lines with a 20 ms delay after each, their
// arrival times taken at the far end, the gaps' distance from 20 ms: through
// a socat pair, and on a pty of our own (its far end the master side, so no
// relay has to wake in between).
//
//   transfer_bench [MIB] [ROUNDS] [LINES]   (defaults 1, 3, 300; ROUNDS 0: paced text only)

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "tests/transfer/peers.h"
#include "transfer/engine.h"
#include "transfer/fd_line.h"
#include "transfer/transfer_error.h"

namespace {

using namespace tarvik::transfer;
using test::Peer;
using test::PtyPair;
using test::TempDir;
using Seconds = std::chrono::duration<double>;

struct Protocol {
    const char* name;
    Mode mode;
    std::vector<std::string> send;     // lrzsz's sender, the file appended
    std::vector<std::string> receive;  // lrzsz's receiver
};

const Protocol kProtocols[] = {
    {"XMODEM-1K", Mode::kXmodem1k, {"sx", "-b", "-k"}, {"rx", "-b", "-c", "got.bin"}},
    {"YMODEM", Mode::kYmodem, {"sb", "-b", "-k"}, {"rb", "-b"}},
};

std::string Folder(const TempDir& dir, const std::string& name) {
    const std::string path = dir.File(name);
    mkdir(path.c_str(), 0700);
    return path;
}

Job JobOf(Mode mode, bool receive, const std::string& path) {
    Job job;
    job.mode = mode;
    job.receive = receive;
    job.path = path;
    return job;
}

// Seconds for our engine against an lrzsz peer, the peer's end included.
double Ours(const TempDir& dir, const Protocol& p, bool receive, const std::string& file, int n) {
    PtyPair pair(dir.Path(), "ours" + std::to_string(n));
    const int fd = test::OpenRaw(pair.A());
    FdLine line(fd, fd);
    const std::string folder = Folder(dir, "ours-in" + std::to_string(n));
    std::vector<std::string> argv = receive ? p.send : p.receive;
    if (receive)
        argv.push_back(file);
    const auto start = Clock::now();
    Peer peer(argv, pair.B(), folder);
    const std::string target =
        !receive ? file : p.mode == Mode::kYmodem ? folder : folder + "/got.bin";
    const Outcome outcome = Engine(line).Run(JobOf(p.mode, receive, target), {});
    const int status = peer.Wait();
    const double seconds = Seconds(Clock::now() - start).count();
    close(fd);
    if (status != 0 || outcome.figures.retries != 0 || outcome.figures.endUnconfirmed)
        std::printf("  (note: peer status %d, %llu retries%s)\n", status,
                    static_cast<unsigned long long>(outcome.figures.retries),
                    outcome.figures.endUnconfirmed ? ", end not confirmed" : "");
    return seconds;
}

// Seconds for lrzsz's sender to lrzsz's receiver.
double Theirs(const TempDir& dir, const Protocol& p, const std::string& file, int n) {
    PtyPair pair(dir.Path(), "theirs" + std::to_string(n));
    const std::string folder = Folder(dir, "theirs-in" + std::to_string(n));
    std::vector<std::string> send = p.send;
    send.push_back(file);
    const auto start = Clock::now();
    Peer receiver(p.receive, pair.B(), folder);
    Peer sender(send, pair.A(), dir.Path());
    const int statuses = sender.Wait() | receiver.Wait();
    const double seconds = Seconds(Clock::now() - start).count();
    if (statuses != 0)
        std::printf("  (note: lrzsz ended with status %d)\n", statuses);
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void Rates(const TempDir& dir, const std::string& file, double mib, int rounds) {
    int n = 0;
    for (const Protocol& p : kProtocols) {
        std::vector<double> ours, theirs, received;
        for (int round = 0; round < rounds; ++round) {
            ours.push_back(mib / Ours(dir, p, false, file, n++));
            theirs.push_back(mib / Theirs(dir, p, file, n++));
            received.push_back(mib / Ours(dir, p, true, file, n++));
            std::printf("  %s round %d: %.2f s ours, %.2f s lrzsz's, %.2f s our receive\n", p.name,
                        round + 1, mib / ours.back(), mib / theirs.back(), mib / received.back());
        }
        const double o = Median(ours), t = Median(theirs), r = Median(received);
        std::printf("%-10s our send %6.2f MiB/s, lrzsz to lrzsz %6.2f MiB/s, ratio %.2f; "
                    "our receive %6.2f MiB/s (medians of %d)\n",
                    p.name, o, t, o / t, r, rounds);
    }
}

// A pty of our own: the line is its raw terminal side, the far end its master.
std::pair<int, int> OwnPty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pty");
    return {test::OpenRaw(ptsname(master)), master};
}

// The line as the engine sees it, noting when each write of a line's end
// returned: the sender's own pace, before the pty and the far end's reader.
class NotedLine : public Line {
  public:
    explicit NotedLine(Line& line) : line_(line) {}
    void Write(std::string_view bytes) override {
        line_.Write(bytes);
        if (bytes.find('\n') != std::string_view::npos)
            written.push_back(Clock::now());
    }
    std::size_t Read(std::string& into, std::size_t max, Clock::time_point deadline) override {
        return line_.Read(into, max, deadline);
    }
    void Interrupt() override { line_.Interrupt(); }
    void ClearInterrupt() override { line_.ClearInterrupt(); }
    std::vector<Clock::time_point> written;

  private:
    Line& line_;
};

// How far the gaps between moments are off `delayMs`: p50, p99, max.
std::string GapsOff(const std::vector<Clock::time_point>& at, int delayMs) {
    std::vector<double> off;
    for (std::size_t i = 1; i < at.size(); ++i)
        off.push_back(std::abs(std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count() -
                               delayMs));
    if (off.empty())
        return "none";
    char text[128];
    std::snprintf(text, sizeof text, "p50 %.3f ms, p99 %.3f ms, max %.3f ms", Percentile(off, 0.5),
                  Percentile(off, 0.99), *std::max_element(off.begin(), off.end()));
    return text;
}

// Paced text through the engine; the far end notes when each line ended.
void Paced(const TempDir& dir, int lines, bool viaSocat) {
    constexpr int kDelayMs = 20;
    std::string text;
    for (int i = 0; i < lines; ++i) text += "set " + std::to_string(i) + "\n";
    test::WriteFile(dir.File("cfg.txt"), text);
    std::optional<PtyPair> pair;
    int fd = -1, far = -1;
    if (viaSocat) {
        pair.emplace(dir.Path(), "paced");
        fd = test::OpenRaw(pair->A());
        far = test::OpenRaw(pair->B());
    } else {
        std::tie(fd, far) = OwnPty();
    }
    std::vector<Clock::time_point> arrivals;
    std::thread reader([&] {
        char buffer[4096];
        while (static_cast<int>(arrivals.size()) < lines) {
            pollfd in{far, POLLIN, 0};
            if (poll(&in, 1, 5000) <= 0)
                return;
            const ssize_t got = read(far, buffer, sizeof buffer);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < got; ++i)
                if (buffer[i] == '\n')
                    arrivals.push_back(now);
        }
    });
    FdLine fdLine(fd, fd);
    NotedLine line(fdLine);
    Job job = JobOf(Mode::kText, false, dir.File("cfg.txt"));
    job.text.lineDelayMs = kDelayMs;
    Engine(line).Run(job, {});
    reader.join();
    close(fd);
    close(far);
    if (arrivals.size() < 2) {
        std::printf("paced text: no lines arrived\n");
        return;
    }
    const double span = std::chrono::duration<double, std::milli>(arrivals.back() - arrivals.front()).count();
    std::printf("paced text %s, %d lines, %d ms after each: gaps at the far end off by %s; "
                "written off by %s; %.2f ms a line over all\n",
                viaSocat ? "through socat" : "on our own pty", lines, kDelayMs,
                GapsOff(arrivals, kDelayMs).c_str(), GapsOff(line.written, kDelayMs).c_str(),
                span / static_cast<double>(arrivals.size() - 1));
}

}  // namespace

int main(int argc, char** argv) {
    const double mib = argc > 1 ? std::atof(argv[1]) : 1;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int lines = argc > 3 ? std::atoi(argv[3]) : 300;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TempDir dir;
    const std::string file = dir.File("random.bin");
    test::WriteFile(file, test::RandomBytes(static_cast<std::size_t>(mib * 1024 * 1024), 1));
    try {
        if (rounds > 0)
            Rates(dir, file, mib, rounds);
        Paced(dir, lines, true);
        Paced(dir, lines, false);
    } catch (const ETransfer& error) {
        std::fprintf(stderr, "transfer failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
