#include "base/main_thread.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tarvik {

struct MainThreadCallAccess {
    static pid_t& Sender(MainThreadCall& call) { return call.sender_; }
    static bool& Released(MainThreadCall& call) { return call.released_; }
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
    MainThreadCallStats stats;
};

Queue& TheQueue() {
    static Queue queue;
    return queue;
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
    Access::Released(call) = true;
    // Notified under the lock: once unlocked, the worker may destroy the call.
    Access::Signal(call).notify_one();
}

void RequireMainThread(const char* what) {
    if (!IsMainThread())
        throw std::logic_error(std::string(what) + " must run on the main thread");
}

// Takes the oldest call and runs it; lock is held on entry and on return.
void RunOne(Queue& queue, std::unique_lock<std::mutex>& lock) {
    MainThreadCall* call = queue.calls.front();
    queue.calls.pop_front();
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

bool IsMainThread() {
    return gettid() == getpid();
}

std::intptr_t HandToMainThread(MainThreadCall& call) {
    if (IsMainThread())
        throw std::logic_error("the main thread cannot hand a call to itself");
    Queue& queue = TheQueue();
    std::unique_lock lock(queue.mutex);
    Access::Sender(call) = gettid();
    Access::Released(call) = false;
    queue.calls.push_back(&call);
    ++queue.stats.placed;
    // Posted under the lock so that whatever Qt allocates for the wake-up
    // happens before the main thread takes the lock to serve it. The main
    // thread never waits for this lock while Qt's posting lock is held.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [] { ServeMainThreadCalls(); }, Qt::QueuedConnection);
        ++queue.stats.wakeUpsPosted;
    }
    queue.mainWake.notify_all();
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
