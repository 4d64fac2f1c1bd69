#include "base/main_thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tarvik {

struct MainThreadCallAccess {
    static pid_t& Sender(MainThreadCall& call) { return call.sender_; }
    static std::atomic<bool>& Released(MainThreadCall& call) { return call.released_; }
    static std::intptr_t& Result(MainThreadCall& call) { return call.result_; }
    static std::condition_variable& Signal(MainThreadCall& call) { return call.releasedSignal_; }
};

namespace {

using Access = MainThreadCallAccess;

struct Queue {
    std::mutex mutex;
    // The main thread sleeps here in ServeMainThreadCallsUntil.
    std::condition_variable mainWake;
    std::deque<MainThreadCall*> calls;
    // How many calls wait: changed under the lock, watched without it.
    std::atomic<std::size_t> waiting{0};
    MainThreadCallStats stats;
    // The event loop's wake-up: an eventfd that a socket notifier of the
    // application watches. Made once; written by workers while ready.
    int wakeFd = -1;
    bool notifierReady = false;
};

Queue& TheQueue() {
    static Queue queue;
    return queue;
}

// Going to sleep and being woken costs each side of a hand-over a few to
// tens of microseconds here (more on a virtual machine, whose idle CPUs are
// slow to wake), which is more than the answer usually takes while calls
// flow back and forth. So the worker watches for its release, and the main
// thread for the next call, for a short while before sleeping. Only right
// after a hand-over: an idle program never watches, and with one CPU it
// never does.
constexpr auto kWatchFor = std::chrono::microseconds(50);

// A watch that saw nothing is not repeated for the next few hand-overs of
// that thread. One that ran far past its time was put aside by the
// scheduler: the CPUs are busy with other work, which watching would only
// slow down, and a woken thread is quick to run anyway. Watching then rests
// for much longer.
constexpr int kRestAfterMiss = 8;
constexpr int kRestWhenBusy = 1000;

// How long the main thread goes on serving calls that keep coming before it
// lets the event loop paint, fire timers and take the user's input.
constexpr auto kServeFor = std::chrono::milliseconds(2);

bool SeveralCpus() {
    static const bool several = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
    }();
    return several;
}

template <class Ready>
bool WatchBriefly(const Ready& ready) {
    thread_local int rest = 0;
    if (!SeveralCpus())
        return ready();
    if (rest > 0) {
        --rest;
        return ready();
    }
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + kWatchFor;
    for (;;) {
        if (ready())
            return true;
        // Whatever else could run here (the tty's own work, the device's
        // other end) goes first.
        sched_yield();
        const auto now = Clock::now();
        if (now > end + kWatchFor) {
            rest = kRestWhenBusy;
            return ready();
        }
        if (now >= end)
            break;
    }
    rest = kRestAfterMiss;
    return ready();
}

// A call running on the main thread. Records live on the main thread's stack
// and are only touched by it; they say whether their call was released, so
// nobody reads a call after its worker may have destroyed it.
struct Running {
    MainThreadCall* call;
    pid_t sender;
    bool released;
};

std::vector<Running*>& RunningCalls() {
    static std::vector<Running*> running;
    return running;
}

void ReleaseLocked(MainThreadCall& call, std::intptr_t result) {
    Access::Result(call) = result;
    Access::Released(call).store(true, std::memory_order_release);
    // Notified under the lock: once unlocked, the worker may destroy the call.
    Access::Signal(call).notify_one();
}

// Main thread only.
QPointer<QSocketNotifier>& WakeNotifier() {
    static QPointer<QSocketNotifier> notifier;
    return notifier;
}

void OnWakeFd() {
    // Served first: the waiting worker should not wait for the drain. A call
    // placed before the drain is served by the second round, one placed
    // after it signals again.
    ServeMainThreadCalls();
    Queue& queue = TheQueue();
    std::uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(queue.wakeFd, &count, sizeof count);
    ServeMainThreadCalls();
    // A worker that keeps handing over places its next call soon after the
    // last was served: watched for, within the serving time.
    const auto serveEnd = std::chrono::steady_clock::now() + kServeFor;
    while (std::chrono::steady_clock::now() < serveEnd &&
           WatchBriefly([&queue] { return queue.waiting.load(std::memory_order_acquire) > 0; }))
        ServeMainThreadCalls();
}

// Takes the oldest call and runs it; lock is held on entry and on return.
void RunOne(Queue& queue, std::unique_lock<std::mutex>& lock) {
    MainThreadCall* call = queue.calls.front();
    queue.calls.pop_front();
    queue.waiting.store(queue.calls.size(), std::memory_order_release);
    Running record{call, Access::Sender(*call), false};
    ++queue.stats.served;
    lock.unlock();

    auto& running = RunningCalls();
    running.push_back(&record);
    const std::intptr_t result = call->Run();
    running.pop_back();

    lock.lock();
    if (!record.released)
        ReleaseLocked(*call, result);
}

}  // namespace

// Both ids are asked once (per thread, per process): the hand-over asks on
// every call, and each question is a system call. A forked child has new ids.
namespace {

thread_local pid_t cachedTid = 0;
std::atomic<pid_t> cachedPid{0};

void ForgetIdsInChild() {
    cachedTid = 0;
    cachedPid.store(0, std::memory_order_relaxed);
}

pid_t ProcessId() {
    pid_t pid = cachedPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const bool registered = pthread_atfork(nullptr, nullptr, ForgetIdsInChild) == 0;
        (void)registered;
        pid = getpid();
        cachedPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

}  // namespace

pid_t CurrentThreadId() {
    if (cachedTid == 0) {
        ProcessId();  // registers the fork handler before any id is kept
        cachedTid = gettid();
    }
    return cachedTid;
}

bool IsMainThread() {
    return CurrentThreadId() == ProcessId();
}

void RequireMainThread(const char* what) {
    if (!IsMainThread())
        throw std::logic_error(std::string(what) + " must run on the main thread");
}

void PrepareMainThreadWake() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !IsMainThread() || WakeNotifier())
        return;
    Queue& queue = TheQueue();
    if (queue.wakeFd < 0) {
        const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0)
            return;  // the posted wake-up goes on serving
        std::lock_guard lock(queue.mutex);
        queue.wakeFd = fd;
    }
    // A child of the application: it goes with it, and a later application
    // gets a notifier of its own.
    auto* notifier = new QSocketNotifier(queue.wakeFd, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { OnWakeFd(); });
    QObject::connect(notifier, &QObject::destroyed, [] {
        Queue& q = TheQueue();
        std::lock_guard lock(q.mutex);
        q.notifierReady = false;
    });
    WakeNotifier() = notifier;
    std::lock_guard lock(queue.mutex);
    queue.notifierReady = true;
}

std::intptr_t HandToMainThread(MainThreadCall& call) {
    if (IsMainThread())
        throw std::logic_error("the main thread cannot hand a call to itself");
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    Access::Sender(call) = CurrentThreadId();
    Access::Released(call).store(false, std::memory_order_relaxed);
    queue.calls.push_back(&call);
    queue.waiting.store(queue.calls.size(), std::memory_order_release);
    ++queue.stats.placed;
    queue.mainWake.notify_all();
    if (queue.notifierReady) {
        // One write, no allocation, no lock of Qt's: the cheapest way into
        // the event loop's poll. Written with the lock released, so that the
        // main thread, woken by it, does not find the lock still held.
        ++queue.stats.wakeUpsPosted;
        const int fd = queue.wakeFd;
        lock.unlock();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
        lock.lock();
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
        // Until the main thread has set up the notifier (it does so here).
        // Posted under the lock so that whatever Qt allocates for the wake-up
        // happens before the main thread takes the lock to serve it. The main
        // thread never waits for this lock while Qt's posting lock is held.
        QMetaObject::invokeMethod(
            app,
            [] {
                PrepareMainThreadWake();
                ServeMainThreadCalls();
            },
            Qt::QueuedConnection);
        ++queue.stats.wakeUpsPosted;
    }
    if (!Access::Released(call).load(std::memory_order_relaxed)) {
        lock.unlock();
        WatchBriefly(
            [&call] { return Access::Released(call).load(std::memory_order_acquire); });
        lock.lock();
    }
    while (!Access::Released(call)) {
        Access::Signal(call).wait(lock);
        ++queue.stats.senderWakeUps;
    }
    return Access::Result(call);
}

bool ReleaseMainThreadCall(const MainThreadCall* call, std::intptr_t result) {
    RequireMainThread("ReleaseMainThreadCall");
    auto& running = RunningCalls();
    // The innermost record wins: a worker may place a new call at the address
    // of one it got back earlier.
    const auto it = std::find_if(running.rbegin(), running.rend(),
                                 [call](const Running* record) { return record->call == call; });
    if (it == running.rend() || (*it)->released)
        return false;
    (*it)->released = true;
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    ReleaseLocked(*(*it)->call, result);
    return true;
}

void ServeMainThreadCalls() {
    RequireMainThread("ServeMainThreadCalls");
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    while (!queue.calls.empty()) RunOne(queue, lock);
}

void ServeMainThreadCallsUntil(const std::function<bool()>& done) {
    RequireMainThread("ServeMainThreadCallsUntil");
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    for (;;) {
        if (!queue.calls.empty()) {
            RunOne(queue, lock);
            continue;
        }
        if (done())
            return;
        queue.mainWake.wait(lock);
        ++queue.stats.waiterWakeUps;
    }
}

void WakeMainThreadWaiter() {
    Queue& queue = TheQueue();
    // Taking the lock orders this after a waiter's check of its condition.
    std::lock_guard lock(queue.mutex);
    queue.mainWake.notify_all();
}

void CancelMainThreadCalls(const void* target) {
    RequireMainThread("CancelMainThreadCalls");
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    auto& calls = queue.calls;
    for (auto it = calls.begin(); it != calls.end();) {
        if ((*it)->target == target) {
            ReleaseLocked(**it, 0);
            it = calls.erase(it);
        } else {
            ++it;
        }
    }
    queue.waiting.store(calls.size(), std::memory_order_release);
}

bool IsServingBlockedCallFrom(pid_t tid) {
    RequireMainThread("IsServingBlockedCallFrom");
    const auto& running = RunningCalls();
    return std::any_of(running.begin(), running.end(), [tid](const Running* record) {
        return !record->released && record->sender == tid;
    });
}

void PassToEventLoop(std::exception_ptr error) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        std::rethrow_exception(error);
    // Posted and received under the queue's lock: Qt's own hand-over is
    // invisible to the thread sanitizer, this one orders the error's copy.
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    QMetaObject::invokeMethod(
        app,
        [error = std::move(error)] {
            { std::lock_guard received(TheQueue().mutex); }
            std::rethrow_exception(error);
        },
        Qt::QueuedConnection);
}

MainThreadCallStats GetMainThreadCallStats() {
    Queue& queue = TheQueue();
    std::lock_guard lock(queue.mutex);
    return queue.stats;
}

}  // namespace tarvik
