// Answers by a receive rule: N Modbus polls (default 10,000) written one at
// a time by a far end of the benchmark's own on a pty, each answered by the
// rule "poll" of a sequence set, first by the window (offscreen) and then by
// tarvik2-run --answer. Prints per face the polls answered and missed and
// the response times p50 / p99 / max, from the arrival of the poll's last
// byte to the answer handed to the driver (both from the device layer).
// Usage: answer_bench [N]

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/frmmain.h"
#include "sequences/sequence_file.h"
#include "serial/port/com_port.h"
#include "window_setup.h"

extern char** environ;

namespace {

constexpr const char* kSet =
    "[send reply]\nline = 0x01 0x03 0x02 0x00 0x2A\ncheck = CRC-16/MODBUS\n"
    "[rule poll]\npattern = 0x01 0x03 ?? ?? 0x00 0x01\ncheck = CRC-16/MODBUS\nanswer = reply\n";

std::string Crc16Modbus(const std::string& bytes) {
    unsigned crc = 0xFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        path = name;
    }
    ~Pty() {
        close(master);
        close(slave);
    }
};

// Writes the polls one at a time and waits up to a second for each answer;
// the polls that got none.
int Poll(int master, int count) {
    const std::string reply = Crc16Modbus(std::string("\x01\x03\x02\x00\x2A", 5));
    int missed = 0;
    for (int i = 0; i < count; ++i) {
        const std::string poll = Crc16Modbus(std::string("\x01\x03", 2) + char(i >> 8) + char(i) +
                                             std::string("\0\1", 2));
        if (write(master, poll.data(), poll.size()) != ssize_t(poll.size()))
            throw std::runtime_error("write");
        std::size_t got = 0;
        char buffer[64];
        while (got < reply.size()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        missed += got < reply.size() ? 1 : 0;
    }
    return missed;
}

double Ms(std::vector<std::int64_t> us, double p) {
    if (us.empty())
        return 0;
    std::sort(us.begin(), us.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * double(us.size()) + 0.999999);
    return double(us[std::clamp<std::size_t>(rank, 1, us.size()) - 1]) / 1000.0;
}

void Print(const char* face, int count, std::uint64_t answered, int missed, double p50, double p99,
           double max) {
    std::printf("%-16s %8d %9llu %7d %9.3f %9.3f %9.3f\n", face, count,
                static_cast<unsigned long long>(answered), missed, p50, p99, max);
}

void Window(int count) {
    Pty line;
    tarvik::Tfrmmain window(nullptr, line.path);
    bench::ShowAndWait(window);
    window.BitBtn2->click();
    if (!window.C1->Connected())
        throw std::runtime_error("the window did not open " + line.path);
    window.SetSequences(tarvik::sequences::ParseSequenceSet(kSet, "bench"));
    int missed = 0;
    std::thread farEnd([&] {
        missed = Poll(line.master, count);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    farEnd.join();
    const tarvik::sequences::RuleFigures& f = window.SequenceRules().Figures(0);
    Print("window", count, f.answered, missed, Ms(f.responseUs, 50), Ms(f.responseUs, 99),
          Ms(f.responseUs, 100));
}

void Runner(int count) {
    Pty line;
    const std::string set = "/tmp/answer_bench_" + std::to_string(getpid()) + ".seq";
    const std::string out = set + ".out";
    std::ofstream(set) << kSet;
    const int transcript = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, transcript, STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(TARVIK_RUN_PATH),   const_cast<char*>("--answer"),
                    const_cast<char*>("--sequences"),     const_cast<char*>(set.c_str()),
                    const_cast<char*>(line.path.c_str()), nullptr};
    pid_t runner = -1;
    if (posix_spawn(&runner, TARVIK_RUN_PATH, &actions, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start " TARVIK_RUN_PATH);
    posix_spawn_file_actions_destroy(&actions);
    close(transcript);
    // Its first transcript line says the port is open.
    for (int i = 0;; ++i) {
        std::ifstream text(out);
        std::string first;
        if (std::getline(text, first) && first.find("port opened") != std::string::npos)
            break;
        if (i > 3000)
            throw std::runtime_error("the runner did not open the port");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int missed = Poll(line.master, count);
    kill(runner, SIGINT);
    waitpid(runner, nullptr, 0);
    std::ifstream text(out);
    std::string summary;
    for (std::string l; std::getline(text, l);)
        if (l.rfind("# poll |", 0) == 0)
            summary = l;
    std::remove(set.c_str());
    std::remove(out.c_str());
    // "# poll | matched | answered | min / median / p99 / max"
    unsigned long long matched = 0, answered = 0;
    double min = 0, p50 = 0, p99 = 0, max = 0;
    if (std::sscanf(summary.c_str(), "# poll | %llu | %llu | %lf / %lf / %lf / %lf", &matched,
                    &answered, &min, &p50, &p99, &max) != 6)
        throw std::runtime_error("no figures from the runner: " + summary);
    Print("tarvik2-run", count, answered, missed, p50, p99, max);
}

}  // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (argc > 2 || count <= 0) {
        std::fputs("usage: answer_bench [POLLS]\n"
                   "  POLLS  polls the window and tarvik2-run each answer (default 10000)\n",
                   argc > 1 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
        return argc > 1 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    try {
        std::printf("%-16s %8s %9s %7s %9s %9s %9s\n", "answers by", "polls", "answered", "missed",
                    "p50 ms", "p99 ms", "max ms");
        Window(count);
        Runner(count);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "answer_bench: %s\n", error.what());
        return 1;
    }
    for (const std::string& box : boxes) std::fprintf(stderr, "box: %s\n", box.c_str());
    return boxes.empty() ? 0 : 1;
}
