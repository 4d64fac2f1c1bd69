// Reading through the device layer against a plain epoll reader on the same
// kind of pseudo-terminal, alternating between the two:
//  - throughput: a 32 MiB stream from tarvik-sim (a child process), read the
//    way the port's receive path reads (wait for EV_RXCHAR, ask the queue
//    count, read that many);
//  - latency: single bytes written on the master at t0, time until the byte is
//    in the reader's hands.
// Usage: device_bench [rounds] [probes]

#include <fcntl.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/device/posix_com_device.h"
#include "bench/streaming_simulator.h"
#include "tools/simulator/simulator.h"

extern char** environ;

namespace {

using bench::Child;
using bench::StartSimulator;
using bench::StopSimulator;

using namespace cport::device;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStreamBytes = 32u << 20;
constexpr std::uint32_t kQueue = 64 * 1024;

// The device layer, as the port's event thread and receive handler use it.
struct LayerReader {
    PosixComDevice dev;
    ComHandle h;
    ComHandle stop;
    OVERLAPPED wait{}, io{};
    std::uint32_t mask = 0;
    std::vector<char> buffer = std::vector<char>(kQueue);

    explicit LayerReader(const std::string& path) {
        h = dev.CreateFileA(path);
        if (h == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("open " + path);
        }
        DCB dcb;
        dcb.BaudRate = 115200;
        dev.SetupComm(h, kQueue, 4096);
        dev.SetCommState(h, dcb);
        dev.SetCommTimeouts(h, {MAXDWORD, 0, 0, 0, 1000});
        dev.SetCommMask(h, EV_RXCHAR);
        stop = dev.CreateEventA(true, false);
        wait.hEvent = dev.CreateEventA(true, true);
        io.hEvent = dev.CreateEventA(true, true);
    }
    ~LayerReader() {
        dev.CloseHandle(h);
        dev.CloseHandle(stop);
        dev.CloseHandle(wait.hEvent);
        dev.CloseHandle(io.hEvent);
    }
    void Send(const char* bytes, std::uint32_t n) {
        std::uint32_t done;
        if (!dev.WriteFile(h, bytes, n, &done, &io)) {
            dev.WaitForSingleObject(io.hEvent, INFINITE);
        }
    }
    // One wake-up: bytes read.
    std::uint32_t Next() {
        dev.WaitCommEvent(h, &mask, &wait);
        const ComHandle both[2] = {stop, wait.hEvent};
        std::uint32_t n = 0;
        if (dev.WaitForMultipleObjects(2, both, false, INFINITE) != WAIT_OBJECT_0 + 1 ||
            !dev.GetOverlappedResult(h, &wait, &n, false)) {
            return 0;
        }
        std::uint32_t errors;
        COMSTAT stat;
        dev.ClearCommError(h, &errors, &stat);
        if (stat.cbInQue == 0) {
            return 0;
        }
        if (!dev.ReadFile(h, buffer.data(), stat.cbInQue, &n, &io)) {
            dev.WaitForSingleObject(io.hEvent, INFINITE);
            dev.GetOverlappedResult(h, &io, &n, false);
        }
        return n;
    }
};

// The plain reader: edge-triggered epoll, read until EAGAIN.
struct RawReader {
    int fd;
    int ep;
    std::vector<char> buffer = std::vector<char>(kQueue);

    explicit RawReader(const std::string& path) {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            throw std::runtime_error("open " + path);
        }
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
    void Send(const char* bytes, std::uint32_t n) {
        if (write(fd, bytes, n) < 0) {
            throw std::runtime_error("write");
        }
    }
    std::uint32_t Next() {
        epoll_event ev;
        while (epoll_wait(ep, &ev, 1, -1) < 1) {
        }
        std::uint32_t total = 0;
        for (;;) {
            const ssize_t n = read(fd, buffer.data(), buffer.size());
            if (n <= 0) {
                return total;
            }
            total += static_cast<std::uint32_t>(n);
        }
    }
};

template <class Reader>
double Throughput() {
    const Child child = StartSimulator(kStreamBytes);
    double mbPerSecond;
    {
        Reader reader(child.path);
        const auto t0 = Clock::now();
        reader.Send("g", 1);
        std::uint64_t got = 0;
        while (got < kStreamBytes) {
            got += reader.Next();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        mbPerSecond = got / seconds / 1e6;
    }
    StopSimulator(child);
    return mbPerSecond;
}

template <class Reader>
void Latency(int probes, std::vector<double>* samplesUs) {
    tarvik::sim::Behaviour silent;
    silent.mode = tarvik::sim::Behaviour::Mode::kSilent;
    tarvik::sim::Simulator pty(silent);  // only its master side is used
    Reader reader(pty.SlavePath());
    std::atomic<std::int64_t> sentAt{0};
    std::atomic<int> arrived{0};
    std::thread receiver([&] {
        int seen = 0;
        while (seen < probes) {
            if (reader.Next() > 0) {
                const auto t1 = Clock::now().time_since_epoch().count();
                samplesUs->push_back((t1 - sentAt.load()) / 1e3);
                arrived = ++seen;
            }
        }
    });
    for (int i = 0; i < probes; ++i) {
        sentAt = Clock::now().time_since_epoch().count();
        const char byte = 'x';
        if (write(pty.MasterFd(), &byte, 1) != 1) {
            throw std::runtime_error("master write");
        }
        while (arrived.load() <= i) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let both sides go idle
    }
    receiver.join();
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * (v.size() - 1))];
}

double Median(std::vector<double> v) {
    return Percentile(std::move(v), 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int probes = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::vector<double> rawMb, layerMb;
    for (int r = 0; r < rounds; ++r) {
        rawMb.push_back(Throughput<RawReader>());
        layerMb.push_back(Throughput<LayerReader>());
        std::printf("round %d: raw %.1f MB/s, layer %.1f MB/s\n", r + 1, rawMb.back(),
                    layerMb.back());
    }
    std::vector<double> rawUs, layerUs;
    for (int r = 0; r < 2; ++r) {
        Latency<RawReader>(probes / 2, &rawUs);
        Latency<LayerReader>(probes / 2, &layerUs);
    }
    const double rawT = Median(rawMb), layerT = Median(layerMb);
    std::printf("\n32 MiB stream from tarvik-sim, %d rounds each, alternating (median)\n", rounds);
    std::printf(
        "  throughput   raw %8.1f MB/s   layer %8.1f MB/s   layer/raw %.2f (target >= 0.90)\n",
        rawT, layerT, layerT / rawT);
    std::printf("single-byte arrival latency, %d probes each\n", probes);
    std::printf(
        "  p50          raw %8.1f us     layer %8.1f us     layer/raw %.2f (target <= 1.50)\n",
        Percentile(rawUs, 0.5), Percentile(layerUs, 0.5),
        Percentile(layerUs, 0.5) / Percentile(rawUs, 0.5));
    std::printf("  p99          raw %8.1f us     layer %8.1f us     layer/raw %.2f\n",
                Percentile(rawUs, 0.99), Percentile(layerUs, 0.99),
                Percentile(layerUs, 0.99) / Percentile(rawUs, 0.99));
    return 0;
}
