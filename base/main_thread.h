#pragma once
// The main thread's side of every hand-over from a worker thread.
//
// A worker places a call and blocks, without a time limit, until the main
// thread releases it. The main thread runs placed calls in the order they were
// placed: from its Qt event loop (each call signals one wake-up: an eventfd
// that a socket notifier of the application watches, or a queued call to the
// application object until that notifier exists; nothing is signalled while
// no call is placed, so an idle program never wakes) and while it waits for a thread to end
// (TThread::WaitFor), which is how a Close during a hand-over completes it.
//
// "Main thread" is the process's initial thread; it must be the thread that
// created the QCoreApplication. Without an application object calls are
// served only by ServeMainThreadCalls and ServeMainThreadCallsUntil.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>

namespace tarvik {

// Any thread.
bool IsMainThread();
// Throws std::logic_error naming `what` unless called on the main thread.
void RequireMainThread(const char* what);

// The kernel's id of the calling thread (as gettid), without a system call
// after the first use. Any thread.
pid_t CurrentThreadId();

// One hand-over. Owned by the worker that places it (it normally lives on the
// worker's stack) and alive until it is released; after the release the main
// thread no longer touches it.
class MainThreadCall {
  public:
    MainThreadCall() = default;
    MainThreadCall(const MainThreadCall&) = delete;
    MainThreadCall& operator=(const MainThreadCall&) = delete;
    virtual ~MainThreadCall() = default;

    // Runs on the main thread. Its result goes back to the worker unless the
    // call was released earlier (ReleaseMainThreadCall). It must not throw:
    // each kind of call keeps or passes on its own errors. It must not touch
    // its members once it may have released itself.
    virtual std::intptr_t Run() noexcept = 0;

    // What the call is addressed to (see CancelMainThreadCalls), or null.
    const void* target = nullptr;

  private:
    friend struct MainThreadCallAccess;
    pid_t sender_ = 0;
    // Written under the queue's lock; also read without it by the worker
    // watching for its release.
    std::atomic<bool> released_{false};
    std::intptr_t result_ = 0;
    std::condition_variable releasedSignal_;
};

// Main thread, with an application object (elsewhere it does nothing): sets
// up the event loop's wake-up for hand-overs now rather than at the first
// call, which then travels through a posted event. TThread::Resume calls it.
void PrepareMainThreadWake();

// Worker thread (throws std::logic_error on the main thread): places call,
// wakes the main thread and blocks until the call is released. Returns the
// result it was released with.
std::intptr_t HandToMainThread(MainThreadCall& call);

// Main thread, while call runs (from inside its Run): releases the worker at
// once with result. Returns false when the call was already released or is not
// running. Only the pointer is compared, so a released call may be passed.
bool ReleaseMainThreadCall(const MainThreadCall* call, std::intptr_t result);

// Main thread: runs every call placed so far, and those placed meanwhile.
void ServeMainThreadCalls();

// Main thread: runs placed calls until done() is true, sleeping without a
// time limit in between. done() is evaluated with the queue's lock held, so it
// must only read a flag; whoever sets that flag calls WakeMainThreadWaiter
// afterwards.
void ServeMainThreadCallsUntil(const std::function<bool()>& done);

// Any thread: makes a waiting ServeMainThreadCallsUntil check its condition.
void WakeMainThreadWaiter();

// Main thread: releases, with result 0 and without running them, the calls
// addressed to target that have not started to run.
void CancelMainThreadCalls(const void* target);

// Main thread: true while a call placed by the thread with kernel id tid runs
// on the main thread and still holds that thread. Waiting for that thread to
// end from there would wait forever.
bool IsServingBlockedCallFrom(pid_t tid);

// Any thread: throws error again from the main thread's event loop, where the
// application's notify() handles it like an error of any event handler (the
// program shows it in a message box). For errors caught where nobody can
// handle them: a window procedure, the end of loading. Without an application
// object it is thrown here at once.
void PassToEventLoop(std::exception_ptr error);

// Counters since the start of the process, for tests and benchmarks. Any thread.
struct MainThreadCallStats {
    std::uint64_t placed = 0;         // calls placed by workers
    std::uint64_t wakeUpsPosted = 0;  // wake-ups signalled to the event loop
    std::uint64_t served = 0;         // calls run on the main thread
    std::uint64_t senderWakeUps = 0;  // times a blocked worker woke up
    std::uint64_t waiterWakeUps = 0;  // times ServeMainThreadCallsUntil woke up
};
MainThreadCallStats GetMainThreadCallStats();

}  // namespace tarvik
