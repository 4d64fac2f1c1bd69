// A port on the network against a plain TCP client, both through the same
// ser2net serving an echoing simulator's pty on 127.0.0.1, in one run:
//  - throughput: 32 MiB written and read back (a writer thread, the reader on
//    its own), by the plain client over raw TCP, and by the port over
//    socket:// and rfc2217://;
//  - request-response: a 16-byte request, time until its echo is all back.
// Prints the rates and p50/p99 of each round, then the medians and each
// port's ratios to the plain client.
// Usage: net_port_bench [MiB] [probes] [rounds]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/device/posix_com_device.h"
#include "tests/serial/ser2net_process.h"
#include "tools/simulator/simulator.h"

namespace {

using namespace cport::device;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;

// What each side offers: send all bytes; receive up to n bytes (at least one).
struct Line {
    std::function<void(const char*, std::size_t)> send;
    std::function<std::size_t(char*, std::size_t)> receive;
};

struct PlainClient {
    int fd;
    explicit PlainClient(std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            throw std::runtime_error("plain client: connect");
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~PlainClient() { ::close(fd); }
    Line AsLine() {
        return {[this](const char* p, std::size_t n) {
                    while (n > 0) {
                        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
                        if (w <= 0) throw std::runtime_error("plain client: send");
                        p += w;
                        n -= static_cast<std::size_t>(w);
                    }
                },
                [this](char* p, std::size_t n) {
                    const ssize_t r = ::recv(fd, p, n, 0);
                    if (r <= 0) throw std::runtime_error("plain client: recv");
                    return static_cast<std::size_t>(r);
                }};
    }
};

struct DevicePort {
    PosixComDevice dev;
    ComHandle h;
    OVERLAPPED rd{}, wr{};
    explicit DevicePort(const std::string& url) {
        h = dev.CreateFileA(url);
        if (h == INVALID_HANDLE_VALUE)
            throw std::runtime_error("open " + url + ": " + std::to_string(dev.GetLastError()));
        DCB dcb;
        dcb.BaudRate = 115200;
        dev.SetupComm(h, 64 * 1024, 4096);
        dev.SetCommState(h, dcb);
        // A read returns what is there, or waits for the first byte.
        dev.SetCommTimeouts(h, {MAXDWORD, MAXDWORD, 10000, 0, 0});
        rd.hEvent = dev.CreateEventA(true, true);
        wr.hEvent = dev.CreateEventA(true, true);
    }
    ~DevicePort() {
        dev.CloseHandle(h);
        dev.CloseHandle(rd.hEvent);
        dev.CloseHandle(wr.hEvent);
    }
    std::uint32_t Finish(bool done, OVERLAPPED& ov) {
        std::uint32_t n = 0;
        if (!done && dev.GetLastError() != ERROR_IO_PENDING)
            throw std::runtime_error("transfer: error " + std::to_string(dev.GetLastError()));
        dev.WaitForSingleObject(ov.hEvent, INFINITE);
        if (!dev.GetOverlappedResult(h, &ov, &n, false))
            throw std::runtime_error("result: error " + std::to_string(dev.GetLastError()));
        return n;
    }
    Line AsLine() {
        return {[this](const char* p, std::size_t n) {
                    std::uint32_t done;
                    Finish(dev.WriteFile(h, p, static_cast<std::uint32_t>(n), &done, &wr), wr);
                },
                [this](char* p, std::size_t n) {
                    std::uint32_t done;
                    return static_cast<std::size_t>(
                        Finish(dev.ReadFile(h, p, static_cast<std::uint32_t>(n), &done, &rd), rd));
                }};
    }
};

// Bytes per second for `total` bytes echoed.
double Throughput(Line line, std::size_t total) {
    std::vector<char> out(kChunk);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i % 251);
    const auto start = Clock::now();
    std::thread writer([&] {
        try {
            for (std::size_t sent = 0; sent < total; sent += kChunk)
                line.send(out.data(), std::min(kChunk, total - sent));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "writer: %s\n", e.what());
            std::exit(2);
        }
    });
    std::vector<char> in(kChunk);
    std::size_t got = 0;
    while (got < total) got += line.receive(in.data(), in.size());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    return static_cast<double>(total) / seconds;
}

// p50 and p99 in microseconds of a 16-byte request's echo.
std::pair<double, double> RoundTrips(Line line, int probes) {
    std::vector<double> us;
    char request[16], reply[64];
    for (int i = 0; i < probes; ++i) {
        std::snprintf(request, sizeof request, "req %010d\n", i);
        const auto t0 = Clock::now();
        line.send(request, 16);
        std::size_t got = 0;
        while (got < 16) got += line.receive(reply + got, sizeof reply - got);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t total = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32) << 20;
    const int probes = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
    const auto folder = std::filesystem::temp_directory_path() / ("tarvik-net-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    tarvik::sim::Simulator simulator{tarvik::sim::Behaviour{}};
    std::thread serving([&] { simulator.Run(); });
    cport::testutil::Ser2net server(folder.string(), simulator.SlavePath());
    if (!server.Start()) {
        std::fprintf(stderr, "ser2net did not start\n");
        return 2;
    }
    // Rounds alternate the three, so that a busy machine weighs on each
    // alike; the medians are compared.
    const char* names[3] = {"plain TCP client, raw", "port, socket://", "port, rfc2217://"};
    std::vector<double> rates[3], p50s[3], p99s[3];
    const auto measure = [&](int which, auto makeLine) {
        {
            auto side = makeLine();
            rates[which].push_back(Throughput(side->AsLine(), total));
        }
        server.WaitReleased();
        {
            // A fresh connection, so that nothing of the stream is left in flight.
            auto side = makeLine();
            const auto rtt = RoundTrips(side->AsLine(), probes);
            p50s[which].push_back(rtt.first);
            p99s[which].push_back(rtt.second);
        }
        server.WaitReleased();
        std::printf("%-22s %8.1f MB/s   round trip p50 %7.1f us  p99 %7.1f us\n", names[which],
                    rates[which].back() / 1e6, p50s[which].back(), p99s[which].back());
        std::fflush(stdout);
    };
    for (int round = 0; round < rounds; ++round) {
        measure(0, [&] { return std::make_unique<PlainClient>(server.RawPort()); });
        measure(1, [&] { return std::make_unique<DevicePort>(server.RawUrl()); });
        measure(2, [&] { return std::make_unique<DevicePort>(server.Rfc2217Url()); });
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("medians of %d rounds (%zu MiB, %d round trips):\n", rounds, total >> 20, probes);
    for (int i = 0; i < 3; ++i) {
        std::printf("%-22s %8.1f MB/s   p50 %7.1f us", names[i], median(rates[i]) / 1e6,
                    median(p50s[i]));
        if (i > 0)
            std::printf("   rate %.2f of the plain client's, p50 %.2fx",
                        median(rates[i]) / median(rates[0]), median(p50s[i]) / median(p50s[0]));
        std::printf("\n");
    }
    server.Stop();
    simulator.Stop();
    serving.join();
    std::filesystem::remove_all(folder);
    return 0;
}
