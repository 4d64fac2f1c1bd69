// The port's receive path (event thread, hand-over to the main thread,
// OnRxChar reading the announced bytes) against a plain epoll reader, Qt's
// QSerialPort and the floor of a reader with one more thread (a worker that
// only wakes the main thread), on the same kind of pseudo-terminal,
// alternating in one run. The port reads twice: with the window's settings
// (19200 baud, even parity, the default input queue) and with a 64 KiB queue.
//  - throughput: 32 MiB streams from tarvik-sim (a child process), four per
//    reader and round, every byte checked against the stream's pattern;
//  - latency: single bytes written on the master at t0, until the byte is in
//    the handler's hands on the main thread (OnRxChar after its read,
//    readyRead after readAll, the raw reader after read); the readers are
//    open side by side on ptys of their own and take turns of 10 bytes;
//  - CPU time of the whole process in the second after the other end hangs up;
//  - wake-ups (voluntary context switches, all threads) over 3 s of an idle
//    open port, not counting the one timer that ends the period.
// Usage: port_bench [rounds] [probes]
//
// The port's OnRxChar reads the announced count with ReadText (through the
// test port's ReadBytes), as the main window's handler does. Built only where
// Qt's serial port module is installed (qt6-serialport-dev).

#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QSerialPort>

#include "bench/process_figures.h"
#include "serial/port/com_buffer.h"
#include "serial/port/com_parity.h"
#include "tests/serial/event_port.h"
#include "bench/streaming_simulator.h"
#include "tools/simulator/simulator.h"

namespace {

using tarvik::bench::ProcessCpuMs;
using tarvik::bench::ProcessVoluntarySwitches;

using bench::Child;
using bench::StartSimulator;
using bench::StopSimulator;

using Clock = std::chrono::steady_clock;
using cport::testutil::EventPort;

constexpr std::uint64_t kStreamBytes = 32u << 20;
constexpr int kStreamsPerRound = 4;
constexpr int kQueue = 64 * 1024;

// --- Helpers.

// Checks received bytes against the stream's pattern.
struct StreamCheck {
    std::uint64_t next = 0;
    std::uint64_t bad = 0;
    void Take(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (static_cast<std::uint8_t>(data[i]) != tarvik::sim::StreamByte(next++))
                ++bad;
        }
    }
};

void RunLoopFor(std::chrono::milliseconds period) {
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * (v.size() - 1))];
}

// A tty in raw mode, non-blocking, for the readers that read it themselves.
int OpenRawTty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("open " + path);
    termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// --- The three readers, each driven from the main thread. Start() opens the
// path; OnBytes is called with every block read, on the main thread;
// RunUntil() handles news until done() holds after a block; PumpFor() keeps
// handling for a period (a raw reader has no event loop of its own).

class Reader {
  public:
    virtual ~Reader() = default;
    virtual void Start(const std::string& path) = 0;
    virtual void Send(const std::string& bytes) = 0;
    virtual void RunUntil(const std::function<bool()>& done) {
        if (done())
            return;
        QEventLoop loop;
        quit_ = [&] {
            if (done())
                loop.quit();
        };
        loop.exec();
        quit_ = nullptr;
    }
    virtual void PumpFor(std::chrono::milliseconds period) { RunLoopFor(period); }
    std::function<void(const char*, std::size_t)> OnBytes;

  protected:
    void Deliver(const char* data, std::size_t n) {
        OnBytes(data, n);
        if (quit_)
            quit_();
    }

  private:
    std::function<void()> quit_;
};

class RawReader : public Reader {
  public:
    ~RawReader() override {
        if (ep_ >= 0)
            close(ep_);
        if (fd_ >= 0)
            close(fd_);
    }
    void Start(const std::string& path) override {
        fd_ = OpenRawTty(path);
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        epoll_ctl(ep_, EPOLL_CTL_ADD, fd_, &ev);
    }
    void Send(const std::string& bytes) override {
        if (write(fd_, bytes.data(), bytes.size()) < 0)
            throw std::runtime_error("write");
    }
    void RunUntil(const std::function<bool()>& done) override {
        while (!done()) Wait(-1);
    }
    void PumpFor(std::chrono::milliseconds period) override {
        const auto end = Clock::now() + period;
        for (auto now = Clock::now(); now < end; now = Clock::now())
            Wait(static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1));
    }

  private:
    void Wait(int timeoutMs) {
        epoll_event ev;
        if (epoll_wait(ep_, &ev, 1, timeoutMs) < 1)
            return;
        for (;;) {
            const ssize_t n = read(fd_, buffer_.data(), buffer_.size());
            if (n > 0) {
                Deliver(buffer_.data(), static_cast<std::size_t>(n));
                continue;
            }
            // A hung-up tty reports HUP for ever: out of the wait set with it.
            if (n == 0 || (n < 0 && errno == EIO) || (ev.events & (EPOLLHUP | EPOLLERR)))
                epoll_ctl(ep_, EPOLL_CTL_DEL, fd_, nullptr);
            return;
        }
    }

    int fd_ = -1;
    int ep_ = -1;
    std::vector<char> buffer_ = std::vector<char>(kQueue);
};

class PortReader : public Reader {
  public:
    // windowSettings: as the window's C1; else 115200 and a 64 KiB queue.
    explicit PortReader(bool windowSettings) : windowSettings_(windowSettings) {}
    void Start(const std::string& path) override {
        port_.SetPort(path);
        if (windowSettings_) {
            port_.SetBaudRate(cport::br19200);
            port_.Parity().SetBits(cport::prEven);
        } else {
            port_.SetBaudRate(cport::br115200);
            port_.Buffer().SetInputSize(kQueue);
        }
        port_.SetEvents(cport::TComEvents{cport::evRxChar});
        port_.SetOnRxChar([this](QObject*, std::int32_t count) {
            const std::string bytes = port_.ReadBytes(count);  // ReadText
            Deliver(bytes.data(), bytes.size());
        });
        port_.Open();
    }
    void Send(const std::string& bytes) override { port_.WriteBytes(bytes); }

  private:
    bool windowSettings_;
    EventPort port_;
};

class QtReader : public Reader {
  public:
    void Start(const std::string& path) override {
        port_.setPortName(QString::fromStdString(path));
        if (!port_.open(QIODevice::ReadWrite))
            throw std::runtime_error("QSerialPort open: " + port_.errorString().toStdString());
        port_.setBaudRate(115200);
        QObject::connect(&port_, &QSerialPort::readyRead, [this] {
            const QByteArray bytes = port_.readAll();
            Deliver(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        });
        // A hung-up line: closed, as Qt's own terminal example does.
        QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ResourceError)
                QMetaObject::invokeMethod(&port_, [this] { port_.close(); }, Qt::QueuedConnection);
        });
    }
    void Send(const std::string& bytes) override {
        port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
        port_.waitForBytesWritten(1000);
    }

  private:
    QSerialPort port_;
};

// The least one more thread can cost: a worker sleeps in epoll on the pty
// and, on each wake, hands over to the main thread's Qt loop through an
// eventfd and waits until the main thread has read what there is. The floor
// under any reader that wakes a thread of its own before the main thread.
class HopReader : public Reader {
  public:
    ~HopReader() override {
        if (worker_.joinable()) {
            stop_ = true;
            Signal(stopFd_);
            done_.release();
            worker_.join();
        }
        notifier_.reset();
        for (const int fd : {ep_, wakeFd_, stopFd_, fd_})
            if (fd >= 0)
                close(fd);
    }
    void Start(const std::string& path) override {
        fd_ = OpenRawTty(path);
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        ev.data.fd = fd_;
        epoll_ctl(ep_, EPOLL_CTL_ADD, fd_, &ev);
        ev.events = EPOLLIN;
        ev.data.fd = stopFd_;
        epoll_ctl(ep_, EPOLL_CTL_ADD, stopFd_, &ev);
        notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnWake(); });
        worker_ = std::thread([this] { Work(); });
    }
    void Send(const std::string& bytes) override {
        if (write(fd_, bytes.data(), bytes.size()) < 0)
            throw std::runtime_error("write");
    }

  private:
    static void Signal(int fd) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
    }
    void Work() {
        for (;;) {
            epoll_event ev;
            if (epoll_wait(ep_, &ev, 1, -1) < 1)
                continue;
            if (stop_)
                return;
            Signal(wakeFd_);
            done_.acquire();
            if ((ev.events & (EPOLLHUP | EPOLLERR)) != 0)
                epoll_ctl(ep_, EPOLL_CTL_DEL, fd_, nullptr);
        }
    }
    void OnWake() {
        std::uint64_t value;
        [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
        for (;;) {
            const ssize_t n = read(fd_, buffer_.data(), buffer_.size());
            if (n <= 0)
                break;
            Deliver(buffer_.data(), static_cast<std::size_t>(n));
        }
        done_.release();
    }

    int fd_ = -1;
    int ep_ = -1;
    int wakeFd_ = -1;
    int stopFd_ = -1;
    std::atomic<bool> stop_{false};
    std::binary_semaphore done_{0};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread worker_;
    std::vector<char> buffer_ = std::vector<char>(kQueue);
};

enum Kind { kRaw, kPort, kPort64k, kQt, kHop, kKinds };
const char* const kNames[kKinds] = {"raw epoll", "port (window)", "port 64 KiB", "QSerialPort",
                                    "thread hop"};

std::unique_ptr<Reader> Make(Kind kind) {
    switch (kind) {
        case kRaw:
            return std::make_unique<RawReader>();
        case kPort:
            return std::make_unique<PortReader>(true);
        case kPort64k:
            return std::make_unique<PortReader>(false);
        case kQt:
            return std::make_unique<QtReader>();
        case kHop:
            return std::make_unique<HopReader>();
        case kKinds:
            break;
    }
    return nullptr;
}

// --- The four measurements.

// MB/s; bad bytes counted into *bad, handler calls into *blocks.
double Throughput(Kind kind, std::uint64_t* bad, std::uint64_t* blocks) {
    const Child child = StartSimulator(kStreamBytes);
    double mbPerSecond = 0;
    {
        auto reader = Make(kind);
        StreamCheck check;
        reader->OnBytes = [&check, blocks](const char* data, std::size_t n) {
            check.Take(data, n);
            ++*blocks;
        };
        reader->Start(child.path);
        const auto t0 = Clock::now();
        reader->Send("g");
        reader->RunUntil([&check] { return check.next >= kStreamBytes; });
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        mbPerSecond = check.next / seconds / 1e6;
        *bad += check.bad + (check.next - kStreamBytes);
    }
    StopSimulator(child);
    return mbPerSecond;
}

// One reader on a pty of its own, probed with single bytes written on the
// master; the time until the byte is in the handler's hands is a sample.
class LatencyProbe {
  public:
    LatencyProbe(Kind kind, std::vector<double>* samplesUs)
        : pty_(Silent()), reader_(Make(kind)), samples_(samplesUs) {
        reader_->OnBytes = [this](const char*, std::size_t) {
            const auto t1 = Clock::now().time_since_epoch().count();
            samples_->push_back((t1 - sentAt_.load()) / 1e3);
            ++arrived_;
        };
        reader_->Start(pty_.SlavePath());
    }

    // Sends count bytes, each after the previous one arrived and both sides
    // had time to go idle.
    void Run(int count) {
        const int first = arrived_.load();
        std::thread sender([&] {
            for (int i = 0; i < count; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                sentAt_ = Clock::now().time_since_epoch().count();
                const char byte = 'x';
                if (write(pty_.MasterFd(), &byte, 1) != 1)
                    throw std::runtime_error("master write");
                while (arrived_.load() <= first + i)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
        reader_->RunUntil([&] { return arrived_.load() >= first + count; });
        sender.join();
    }

  private:
    static tarvik::sim::Behaviour Silent() {
        tarvik::sim::Behaviour silent;
        silent.mode = tarvik::sim::Behaviour::Mode::kSilent;
        return silent;
    }

    tarvik::sim::Simulator pty_;  // only its master side is used
    std::unique_ptr<Reader> reader_;
    std::vector<double>* samples_;
    std::atomic<std::int64_t> sentAt_{0};
    std::atomic<int> arrived_{0};
};

// probes samples for each of the first kinds readers. The readers are open
// side by side and take turns of a few bytes: this machine's speed drifts by
// tens of percent within seconds, and every reader must see the same drift.
void Latency(int kinds, int probes, std::vector<double>* samplesUs) {
    constexpr int kTurn = 10;
    std::vector<std::unique_ptr<LatencyProbe>> readers;
    for (int k = 0; k < kinds; ++k)
        readers.push_back(std::make_unique<LatencyProbe>(static_cast<Kind>(k), &samplesUs[k]));
    for (int done = 0; done < probes; done += kTurn) {
        for (auto& reader : readers) reader->Run(std::min(kTurn, probes - done));
    }
}

// Milliseconds of process CPU in the second after the master closes.
double HangUpCpu(Kind kind) {
    tarvik::sim::Behaviour silent;
    silent.mode = tarvik::sim::Behaviour::Mode::kSilent;
    auto pty = std::make_unique<tarvik::sim::Simulator>(silent);
    auto reader = Make(kind);
    reader->OnBytes = [](const char*, std::size_t) {};
    reader->Start(pty->SlavePath());
    reader->PumpFor(std::chrono::milliseconds(50));
    pty.reset();  // closes the master: the line hangs up
    const double before = ProcessCpuMs();
    reader->PumpFor(std::chrono::milliseconds(1000));
    return ProcessCpuMs() - before;
}

// Voluntary context switches of all threads over 3 s of an idle open port,
// less the one that ends the period.
long IdleWakeUps(Kind kind) {
    tarvik::sim::Behaviour silent;
    silent.mode = tarvik::sim::Behaviour::Mode::kSilent;
    tarvik::sim::Simulator pty(silent);
    auto reader = Make(kind);
    reader->OnBytes = [](const char*, std::size_t) {};
    reader->Start(pty.SlavePath());
    reader->PumpFor(std::chrono::milliseconds(100));
    const long before = ProcessVoluntarySwitches();
    reader->PumpFor(std::chrono::milliseconds(3000));
    return ProcessVoluntarySwitches() - before - 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int probes = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int kinds = kKinds;

    std::vector<double> mb[kKinds], us[kKinds], cpu[kKinds];
    std::vector<long> wakeUps[kKinds];
    std::uint64_t bad[kKinds] = {};
    std::uint64_t blocks[kKinds] = {};
    for (int r = 0; r < rounds; ++r) {
        // Several short streams per round, the readers taking turns: one
        // stream's rate swings by a third on this kind of machine.
        for (int run = 0; run < kStreamsPerRound; ++run) {
            for (int k = 0; k < kinds; ++k)
                mb[k].push_back(Throughput(static_cast<Kind>(k), &bad[k], &blocks[k]));
        }
        Latency(kinds, probes / rounds, us);
        for (int k = 0; k < kinds; ++k) {
            cpu[k].push_back(HangUpCpu(static_cast<Kind>(k)));
            wakeUps[k].push_back(IdleWakeUps(static_cast<Kind>(k)));
        }
        std::printf("round %d:", r + 1);
        for (int k = 0; k < kinds; ++k)
            std::printf("  %s %.1f MB/s p50 %.0f us hang-up %.1f ms idle %ld", kNames[k],
                        mb[k].back(), Percentile(us[k], 0.5), cpu[k].back(), wakeUps[k].back());
        std::printf("\n");
        std::fflush(stdout);
    }

    std::printf(
        "\n%d rounds, alternating; throughput: median of %d streams, latency over %d probes "
        "each\n",
        rounds, rounds * kStreamsPerRound, probes);
    std::printf("%-14s %8s %10s %10s %10s %16s %14s %10s\n", "reader", "MB/s", "bytes/call",
                "p50 us", "p99 us", "hang-up CPU ms", "idle wake-ups", "bad bytes");
    for (int k = 0; k < kinds; ++k) {
        std::vector<double> w(wakeUps[k].begin(), wakeUps[k].end());
        std::printf(
            "%-14s %8.1f %10.0f %10.1f %10.1f %16.1f %14.0f %10llu\n", kNames[k],
            Percentile(mb[k], 0.5),
            static_cast<double>(kStreamBytes) * rounds * kStreamsPerRound /
                std::max<std::uint64_t>(blocks[k], 1),
            Percentile(us[k], 0.5), Percentile(us[k], 0.99), Percentile(cpu[k], 0.5),
            Percentile(w, 1.0), static_cast<unsigned long long>(bad[k]));
    }
    const auto ratio = [&](int a, int b, const std::vector<double>* v, double p) {
        return Percentile(v[a], p) / Percentile(v[b], p);
    };
    std::printf("\nratios of medians (throughput: higher is better; latency: lower is better)\n");
    std::printf("%-28s %10s %8s %8s\n", "", "throughput", "p50", "p99");
    const std::pair<Kind, Kind> pairs[] = {{kPort, kRaw},     {kPort64k, kRaw}, {kQt, kRaw},
                                           {kHop, kRaw},      {kPort, kQt},     {kPort64k, kQt},
                                           {kPort, kHop}};
    for (const auto& [a, b] : pairs) {
        const std::string name = std::string(kNames[a]) + " / " + kNames[b];
        std::printf("%-28s %10.2f %8.2f %8.2f\n", name.c_str(), ratio(a, b, mb, 0.5),
                    ratio(a, b, us, 0.5), ratio(a, b, us, 0.99));
    }
    std::printf("targets: port / QSerialPort throughput >= 1 and p50 <= 1; port hang-up CPU < 5 ms "
                "(worst %.1f), idle wake-ups 0 (worst %ld)\n",
                *std::max_element(cpu[kPort].begin(), cpu[kPort].end()),
                *std::max_element(wakeUps[kPort].begin(), wakeUps[kPort].end()));
    return 0;
}
