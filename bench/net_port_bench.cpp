// A port on the network against a plain TCP client, both through the same
// ser2net serving an echoing simulator's pty on 127.0.0.1, in one run:
//  - throughput: 32 MiB written and read back (a writer thread, the reader on
//    its own), by the plain client over raw TCP, and by the port over
//    socket:// and rfc2217://;
//  - request-response: a 16-byte request, time until its echo is all back.
// Prints the rates and p50/p99 and each port's ratios to the plain client.
// Usage: net_port_bench [MiB] [probes]

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
        if (!done && dev.GetLastError() != ERROR_IO_PENDING) throw std::runtime_error("transfer");
        dev.WaitForSingleObject(ov.hEvent, INFINITE);
        if (!dev.GetOverlappedResult(h, &ov, &n, false)) throw std::runtime_error("result");
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
        for (std::size_t sent = 0; sent < total; sent += kChunk)
            line.send(out.data(), std::min(kChunk, total - sent));
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
    const int probes = argc > 2 ? std::atoi(argv[2]) : 2000;
    const auto folder = std::filesystem::temp_directory_path() / ("tarvik-net-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    tarvik::sim::Simulator simulator{tarvik::sim::Behaviour{}};
    std::thread serving([&] { simulator.Run(); });
    cport::testutil::Ser2net server(folder.string(), simulator.SlavePath());
    if (!server.Start()) {
        std::fprintf(stderr, "ser2net did not start\n");
        return 2;
    }
    struct Result {
        const char* name;
        double rate;
        double p50, p99;
    };
    std::vector<Result> results;
    const auto measure = [&](const char* name, auto makeLine) {
        double rate;
        std::pair<double, double> rtt;
        {
            auto side = makeLine();
            rate = Throughput(side->AsLine(), total);
        }
        {
            // A fresh connection, so that nothing of the stream is left in flight.
            auto side = makeLine();
            rtt = RoundTrips(side->AsLine(), probes);
        }
        results.push_back({name, rate, rtt.first, rtt.second});
        std::printf("%-22s %8.1f MB/s   round trip p50 %7.1f us  p99 %7.1f us\n", name, rate / 1e6,
                    rtt.first, rtt.second);
        std::fflush(stdout);
    };
    measure("plain TCP client, raw", [&] { return std::make_unique<PlainClient>(server.RawPort()); });
    measure("port, socket://", [&] { return std::make_unique<DevicePort>(server.RawUrl()); });
    measure("port, rfc2217://", [&] { return std::make_unique<DevicePort>(server.Rfc2217Url()); });
    for (std::size_t i = 1; i < results.size(); ++i)
        std::printf("%-22s rate %.2f of the plain client's, p50 %.2fx\n", results[i].name,
                    results[i].rate / results[0].rate, results[i].p50 / results[0].p50);
    server.Stop();
    simulator.Stop();
    serving.join();
    std::filesystem::remove_all(folder);
    return 0;
}
