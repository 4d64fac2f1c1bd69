// A raw file sent from the window through a pty, the far end (the master)
// read as fast as it goes by a thread of the benchmark's own, beside the
// same bytes written to a pty by a plain loop: the rate of each, and the
// longest stall of the window's event loop while its transfer runs (gap
// between ticks of a 1 ms timer, less 1 ms).
// Usage: transfer_window_bench [MiB (10)] [block bytes (1024)]. Offscreen
// unless QT_QPA_PLATFORM says otherwise.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "bench/window_setup.h"
#include "serial/port/com_port.h"

namespace {

// Reads the master until `total` bytes came; the seconds from the first byte.
class Drain {
  public:
    Drain(int master, std::size_t total)
        : thread_([this, master, total] {
              std::vector<char> buffer(1 << 16);
              std::size_t got = 0;
              QElapsedTimer clock;
              while (got < total) {
                  pollfd fd{master, POLLIN, 0};
                  if (poll(&fd, 1, 10000) <= 0)
                      break;
                  const ssize_t n = read(master, buffer.data(), buffer.size());
                  if (n <= 0)
                      break;
                  if (got == 0)
                      clock.start();
                  got += std::size_t(n);
              }
              seconds_ = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
              bytes_ = got;
          }) {}
    ~Drain() {
        if (thread_.joinable())
            thread_.join();
    }
    void Wait() { thread_.join(); }
    double Seconds() const { return seconds_; }
    std::size_t Bytes() const { return bytes_; }

  private:
    std::thread thread_;
    double seconds_ = 0;
    std::size_t bytes_ = 0;
};

void Raw(int fd) {
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
    const std::size_t block = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::size_t total = mib << 20;
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);

    char fileName[] = "/tmp/transfer_window_bench.XXXXXX";
    const int file = mkstemp(fileName);
    const std::string content(total, 'r');
    if (file < 0 || write(file, content.data(), total) != ssize_t(total))
        return 1;
    close(file);

    // The pty's own speed: the same bytes by a plain write loop.
    {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return 1;
        Raw(slave);
        Drain drain(master, total);
        for (std::size_t at = 0; at < total;) {
            const ssize_t n = write(slave, content.data() + at, std::min(block, total - at));
            if (n <= 0)
                return 1;
            at += std::size_t(n);
        }
        drain.Wait();
        std::printf("plain write loop, %zu-byte writes: %.1f MiB/s\n", block,
                    drain.Bytes() / drain.Seconds() / (1 << 20));
        close(slave);
        close(master);
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    tarvik::Tfrmmain window(nullptr, name);
    bench::ShowAndWait(window);
    window.BitBtn2->click();  // Start
    if (!window.C1->Connected())
        return 1;

    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    long ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            longest = std::max(longest, now - last - 1000000);
        last = now;
        ++ticks;
    });
    tarvik::transfer::Job job;
    job.mode = tarvik::transfer::Mode::kRaw;
    job.path = fileName;
    job.raw.blockBytes = block;
    Drain drain(master, total);
    clock.start();
    ticker.start(1);
    window.StartTransfer(job);
    QElapsedTimer limit;
    limit.start();
    while (window.TransferRunning() && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    ticker.stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    drain.Wait();
    std::printf("window, raw mode, %zu-byte blocks: %zu of %zu bytes in %.2f s, %.1f MiB/s\n",
                block, drain.Bytes(), total, seconds, drain.Bytes() / seconds / (1 << 20));
    std::printf("longest event-loop stall during the transfer: %.2f ms (%ld ticks of 1 ms)\n",
                longest / 1e6, ticks);
    for (const auto& box : boxes) std::printf("box: %s\n", box.c_str());
    unlink(fileName);
    window.BitBtn3->click();  // Stop
    close(slave);
    close(master);
    return 0;
}
