#pragma once
// A worker thread object: created suspended, started by Resume, stopped by
// Terminate plus WaitFor. Its body (Execute) may run a function on the main
// thread and wait for it (Synchronize); an error raised there comes back to
// the body. WaitFor on the main thread keeps serving the pending hand-overs of
// every worker (synchronized calls and sent window messages) until the thread
// has ended, so waiting for a thread that is in the middle of a hand-over
// completes the hand-over instead of waiting forever.
//
// Threads: the object is created, resumed, given a priority and destroyed by
// one owning thread (normally the main thread). Terminate, Terminated,
// Finished and Synchronize may be called from any thread.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvik {

// Scheduling priority. tpNormal keeps the nice value the thread inherits; the
// others move it by a fixed step (tpIdle +19, tpLowest +10, tpLower +5,
// tpHigher -5, tpHighest -10, tpTimeCritical -20, clamped to -20..19).
// Raising it needs CAP_SYS_NICE (or a matching RLIMIT_NICE).
enum class TThreadPriority {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

class TThread {
  public:
    // Created suspended at tpNormal; nothing runs until Resume.
    TThread();
    // Terminate, then WaitFor. A derived class whose Execute uses members of
    // its own must end the thread in its own destructor (TerminateAndWait),
    // before those members are destroyed.
    virtual ~TThread();

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread the first time; later calls do nothing. Returns once
    // the thread runs at its priority (ThreadId is set). Execute then runs
    // even if Terminate follows at once; it is skipped only for a thread
    // terminated before it was resumed. Throws std::system_error when the
    // thread cannot be created or the priority is refused; Execute then never
    // runs.
    void Resume();

    // Sets the terminated mark; Execute decides when to look at it.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // Waits until the thread has ended; at once when it was never resumed.
    // On the main thread the wait serves hand-overs meanwhile. Throws
    // std::logic_error when called by the thread itself, or on the main thread
    // from inside a synchronized call of this thread (either would never end).
    void WaitFor();

    void TerminateAndWait() {
        Terminate();
        WaitFor();
    }

    // True once the thread has ended: Execute returned, threw or was skipped.
    bool Finished() const { return finished_.load(); }

    // The exception that ended Execute, or null. Read it after WaitFor; it is
    // kept until the object is destroyed.
    std::exception_ptr FatalException() const;

    TThreadPriority Priority() const { return priority_; }
    // Applied at once when the thread runs (throws std::system_error if
    // refused, keeping the old priority), else when it is resumed.
    void SetPriority(TThreadPriority priority);

    // The kernel's id of the thread (as in /proc/self/task), 0 before Resume.
    pid_t ThreadId() const { return tid_.load(); }

    // Runs method on the main thread and waits until it has run; an exception
    // it throws is thrown again here. Called on the main thread, it runs
    // method directly. Any thread.
    static void Synchronize(const std::function<void()>& method);

  protected:
    // The thread's body. An exception leaving it is kept as FatalException.
    virtual void Execute() = 0;

  private:
    void Main();
    int NiceFor(TThreadPriority priority) const;

    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<pid_t> tid_{0};
    TThreadPriority priority_ = TThreadPriority::tpNormal;
    int inheritedNice_ = 0;  // written by the thread before Resume returns

    mutable std::mutex mutex_;  // guards the start hand-shake and fatal_
    std::condition_variable startedSignal_;
    bool started_ = false;
    int startError_ = 0;  // errno of a refused priority
    std::exception_ptr fatal_;

    std::mutex joinMutex_;  // two waiting threads must not join at once
    std::thread thread_;
};

}  // namespace tarvik
