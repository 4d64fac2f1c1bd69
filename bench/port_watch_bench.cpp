// What watching for ports that come and go costs while nothing comes or goes:
// voluntary context switches of all threads over 3 s of the event loop with
// a port watcher (and, for comparison, without one), less the one timer that
// ends each period. Then, as root, the time from the kernel's announcement of
// a tty (a write to its uevent file) to the watcher's report.
// Usage: port_watch_bench [rounds]

#include <dirent.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/process_figures.h"
#include "serial/ports/port_watcher.h"

namespace {

using tarvik::bench::ProcessVoluntarySwitches;

void RunLoopFor(std::chrono::milliseconds period) {
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    loop.exec();
}

long IdleWakeUps(bool watching) {
    std::unique_ptr<cport::TPortWatcher> watcher;
    if (watching)
        watcher = std::make_unique<cport::TPortWatcher>();
    RunLoopFor(std::chrono::milliseconds(100));
    const long before = ProcessVoluntarySwitches();
    RunLoopFor(std::chrono::milliseconds(3000));
    return ProcessVoluntarySwitches() - before - 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    {
        cport::TPortWatcher probe;
        std::printf("watcher mode: %s %s\n",
                    probe.Mode() == cport::TPortWatchMode::pwUdev     ? "udev"
                    : probe.Mode() == cport::TPortWatchMode::pwKernel ? "kernel"
                                                                      : "on demand",
                    probe.Reason().c_str());
    }
    long worst = 0;
    for (int r = 0; r < rounds; ++r) {
        const long with = IdleWakeUps(true);
        const long without = IdleWakeUps(false);
        worst = std::max(worst, with);
        std::printf("round %d: idle wake-ups in 3 s with watcher %ld, without %ld\n", r + 1, with,
                    without);
    }
    std::printf("target: idle wake-ups 0 with the watcher (worst %ld)\n", worst);

    const char* uevent = "/sys/class/tty/tty9/uevent";
    if (geteuid() != 0 || access(uevent, W_OK) != 0) {
        std::printf("report latency: skipped (needs root and %s)\n", uevent);
        return 0;
    }
    cport::TPortWatcher watcher;
    std::vector<double> us;
    std::chrono::steady_clock::time_point sent;
    bool got = false;
    watcher.SetOnChange([&](const cport::TPortChange&) {
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent)
                .count());
        got = true;
    });
    for (int i = 0; i < 200; ++i) {
        got = false;
        sent = std::chrono::steady_clock::now();
        std::ofstream(uevent) << "add\n";
        while (!got) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::sort(us.begin(), us.end());
    std::printf("report latency (uevent write -> handler) p50 %.0f us p99 %.0f us over %zu\n",
                us[us.size() / 2], us[us.size() * 99 / 100], us.size());
    return 0;
}
