// Measures the main-thread hand-over: wake-ups while idle (voluntary context
// switches from /proc/self/task/<tid>/status) and the round trip of a
// synchronized call, served from the event loop and from WaitFor.
//   build/<dir>/bin/thread_bench [seconds-per-idle-window]

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/main_thread.h"
#include "base/thread.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarvik::TThread;

class Worker : public TThread {
  public:
    explicit Worker(std::function<void()> body) : body_(std::move(body)) {}
    ~Worker() override { TerminateAndWait(); }

  protected:
    void Execute() override { body_(); }

  private:
    std::function<void()> body_;
};

std::string TaskFile(pid_t tid, const char* name) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/%s", static_cast<int>(tid), name);
    return path;
}

long VoluntarySwitches(pid_t tid) {
    std::ifstream status(TaskFile(tid, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::atol(line.c_str() + 24);
    }
    return -1;
}

// Waits until tid sleeps (state S) so the window starts after it blocked.
void UntilAsleep(pid_t tid) {
    for (;;) {
        std::ifstream stat(TaskFile(tid, "stat"));
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'S')
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Wake-ups of tid over one window, measured from another thread.
long WakeUpsOver(pid_t tid, std::chrono::milliseconds window) {
    UntilAsleep(tid);
    const long before = VoluntarySwitches(tid);
    std::this_thread::sleep_for(window);
    return VoluntarySwitches(tid) - before;
}

struct Percentiles {
    double p50;
    double p99;
};

Percentiles Of(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::chrono::milliseconds window(argc > 1 ? std::atoi(argv[1]) * 1000 : 1000);
    const pid_t mainTid = gettid();

    // 1. The main thread idles in its event loop while a worker exists.
    {
        std::promise<void> release;
        auto released = release.get_future().share();
        Worker worker([released] { released.wait(); });
        worker.Resume();
        long wakeUps = -1;
        std::thread meter([&] {
            wakeUps = WakeUpsOver(mainTid, window);
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        });
        app.exec();
        meter.join();
        release.set_value();
        std::printf("idle event loop, main thread wake-ups over %lld ms: %ld\n",
                    static_cast<long long>(window.count()), wakeUps);
    }

    // 2. A worker blocked in Synchronize while the main thread is busy.
    {
        std::atomic<bool> served{false};
        Worker worker([&] { TThread::Synchronize([&] { served = true; }); });
        const auto placed = tarvik::GetMainThreadCallStats().placed;
        worker.Resume();
        while (tarvik::GetMainThreadCallStats().placed == placed) std::this_thread::yield();
        const long wakeUps = WakeUpsOver(worker.ThreadId(), window);
        worker.WaitFor();
        std::printf("worker blocked in Synchronize, its wake-ups over %lld ms: %ld\n",
                    static_cast<long long>(window.count()), wakeUps);
    }

    // 3. The main thread in WaitFor while the worker is busy.
    {
        std::promise<void> release;
        auto released = release.get_future().share();
        Worker worker([released] { released.wait(); });
        worker.Resume();
        long wakeUps = -1;
        std::thread meter([&] {
            wakeUps = WakeUpsOver(mainTid, window);
            release.set_value();
        });
        worker.WaitFor();
        meter.join();
        std::printf("main thread in WaitFor, its wake-ups over %lld ms: %ld\n",
                    static_cast<long long>(window.count()), wakeUps);
    }

    // 4. Round trip of one synchronized call (worker's view), both ways of serving.
    constexpr int kCalls = 20000;
    for (const bool fromEventLoop : {true, false}) {
        std::vector<double> us;
        us.reserve(kCalls);
        int count = 0;
        Worker worker([&] {
            for (int i = 0; i < kCalls; ++i) {
                const auto start = Clock::now();
                TThread::Synchronize([&] { ++count; });
                us.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            }
            if (fromEventLoop)
                TThread::Synchronize([&] { QCoreApplication::quit(); });
        });
        const auto start = Clock::now();
        worker.Resume();
        if (fromEventLoop)
            app.exec();
        worker.WaitFor();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const Percentiles p = Of(us);
        std::printf("synchronized call served from %s: p50 %.1f us, p99 %.1f us, %.0f calls/s\n",
                    fromEventLoop ? "the event loop" : "WaitFor", p.p50, p.p99, kCalls / seconds);
    }
    return 0;
}
