// Reading a 32 MiB stream from tarvik-sim (a child process) through the
// port object's ReadText against a plain epoll reader on the same kind of
// pseudo-terminal, alternating between the two. The port reads the way a
// blocking reader without an event thread would: ReadText of a large count
// with the "return on the first byte" time-outs, so each call returns what
// has arrived. Both readers check every byte of the stream.
// Usage: port_bench [rounds]

#include <fcntl.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/com_buffer.h"
#include "serial/com_port.h"
#include "serial/com_timeouts.h"
#include "tools/simulator/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStreamBytes = 32u << 20;
constexpr std::int32_t kChunk = 64 * 1024;

struct Child {
    pid_t pid = -1;
    std::string path;
};

Child StartSimulator() {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string count = std::to_string(kStreamBytes);
    char* argv[] = {const_cast<char*>(TARVIK_SIM_PATH), const_cast<char*>("--stream"),
                    const_cast<char*>(count.c_str()), nullptr};
    Child child;
    if (posix_spawn(&child.pid, TARVIK_SIM_PATH, &actions, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start " TARVIK_SIM_PATH);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') child.path.push_back(c);
    close(out[0]);
    return child;
}

void StopSimulator(const Child& child) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
}

// Counts bytes that are not the stream's next ones.
struct Checker {
    std::uint64_t next = 0;
    std::uint64_t wrong = 0;
    void Check(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++next) {
            if (static_cast<std::uint8_t>(data[i]) != tarvik::sim::StreamByte(next))
                ++wrong;
        }
    }
};

struct PortReader {
    cport::TComPort port;
    tarvik::Text text;

    explicit PortReader(const std::string& path) {
        port.SetPort(path);
        port.SetEvents({});
        port.SetBaudRate(cport::br115200);
        port.Buffer().SetInputSize(kChunk);
        // Return as soon as anything has arrived; wait up to 1 s for it.
        port.Timeouts().SetReadInterval(-1);
        port.Timeouts().SetReadTotalMultiplier(-1);
        port.Timeouts().SetReadTotalConstant(1000);
        port.Open();
    }
    void Send(const char* bytes, std::int32_t n) { port.Write(bytes, n); }
    std::size_t Next(Checker& checker) {
        const std::int32_t n = port.ReadText(text, kChunk);
        checker.Check(text.data(), text.size());
        return static_cast<std::size_t>(n);
    }
};

// Edge-triggered epoll, read until EAGAIN.
struct RawReader {
    int fd;
    int ep;
    std::vector<char> buffer = std::vector<char>(kChunk);

    explicit RawReader(const std::string& path) {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("open " + path);
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        ep = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    }
    ~RawReader() {
        close(ep);
        close(fd);
    }
    void Send(const char* bytes, std::int32_t n) {
        if (write(fd, bytes, static_cast<std::size_t>(n)) < 0)
            throw std::runtime_error("write");
    }
    std::size_t Next(Checker& checker) {
        epoll_event ev;
        while (epoll_wait(ep, &ev, 1, -1) < 1) {
        }
        std::size_t total = 0;
        for (;;) {
            const ssize_t n = read(fd, buffer.data(), buffer.size());
            if (n <= 0)
                return total;
            checker.Check(buffer.data(), static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
        }
    }
};

template <class Reader>
double Throughput() {
    const Child child = StartSimulator();
    double mbPerSecond;
    Checker checker;
    {
        Reader reader(child.path);
        const auto t0 = Clock::now();
        reader.Send("g", 1);
        std::uint64_t got = 0;
        while (got < kStreamBytes) got += reader.Next(checker);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        mbPerSecond = static_cast<double>(got) / seconds / 1e6;
    }
    StopSimulator(child);
    if (checker.wrong != 0 || checker.next != kStreamBytes) {
        std::fprintf(stderr, "stream damaged: %llu bytes, %llu wrong\n",
                     static_cast<unsigned long long>(checker.next),
                     static_cast<unsigned long long>(checker.wrong));
        std::exit(1);
    }
    return mbPerSecond;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<double> rawMb, portMb;
    for (int r = 0; r < rounds; ++r) {
        rawMb.push_back(Throughput<RawReader>());
        portMb.push_back(Throughput<PortReader>());
        std::printf("round %d: raw %.1f MB/s, port ReadText %.1f MB/s\n", r + 1, rawMb.back(),
                    portMb.back());
    }
    const double rawT = Median(rawMb), portT = Median(portMb);
    std::printf(
        "\n32 MiB stream from tarvik-sim, every byte checked, %d rounds each, "
        "alternating (median)\n",
        rounds);
    std::printf("  throughput   raw %8.1f MB/s   port ReadText %8.1f MB/s   port/raw %.2f\n", rawT,
                portT, portT / rawT);
    return 0;
}
