#include "base/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "base/main_thread.h"

namespace tarvik {

namespace {

// A synchronized call: the method's error travels back with the call.
class SyncCall : public MainThreadCall {
  public:
    explicit SyncCall(const std::function<void()>& method) : method_(method) {}

    std::intptr_t Run() noexcept override {
        try {
            method_();
        } catch (...) {
            error_ = std::current_exception();
        }
        return 0;
    }

    // Read by the worker once the call is released.
    std::exception_ptr error_;

  private:
    const std::function<void()>& method_;
};

int NiceStep(TThreadPriority priority) {
    switch (priority) {
        case TThreadPriority::tpIdle:
            return 19;
        case TThreadPriority::tpLowest:
            return 10;
        case TThreadPriority::tpLower:
            return 5;
        case TThreadPriority::tpNormal:
            return 0;
        case TThreadPriority::tpHigher:
            return -5;
        case TThreadPriority::tpHighest:
            return -10;
        case TThreadPriority::tpTimeCritical:
            return -20;
    }
    return 0;
}

// On Linux the nice value belongs to each thread, addressed by its kernel id.
int SetNice(pid_t tid, int nice) {
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0 ? 0 : errno;
}

}  // namespace

TThread::TThread() = default;

TThread::~TThread() {
    TerminateAndWait();
}

int TThread::NiceFor(TThreadPriority priority) const {
    return std::clamp(inheritedNice_ + NiceStep(priority), -20, 19);
}

void TThread::Resume() {
    if (thread_.joinable() || finished_.load())
        return;
    PrepareMainThreadWake();
    thread_ = std::thread([this] { Main(); });
    int error = 0;
    {
        std::unique_lock lock(mutex_);
        startedSignal_.wait(lock, [this] { return started_; });
        error = startError_;
    }
    if (error != 0) {
        thread_.join();
        throw std::system_error(error, std::generic_category(), "thread priority refused");
    }
}

void TThread::Main() {
    const pid_t tid = CurrentThreadId();
    errno = 0;
    const int inherited = getpriority(PRIO_PROCESS, 0);
    bool run = false;
    {
        std::lock_guard lock(mutex_);
        inheritedNice_ = errno == 0 ? inherited : 0;
        tid_.store(tid);
        if (priority_ != TThreadPriority::tpNormal)
            startError_ = SetNice(tid, NiceFor(priority_));
        // Decided before Resume returns: a thread terminated before it was
        // resumed skips its body, one resumed first always runs it.
        run = startError_ == 0 && !terminated_.load();
        started_ = true;
        startedSignal_.notify_all();
        if (startError_ != 0) {
            finished_.store(true);
            return;
        }
    }
    if (run) {
        try {
            Execute();
        } catch (...) {
            std::lock_guard lock(mutex_);
            fatal_ = std::current_exception();
        }
    }
    finished_.store(true);
    WakeMainThreadWaiter();
}

void TThread::Terminate() {
    terminated_.store(true);
}

void TThread::WaitFor() {
    const pid_t tid = tid_.load();
    if (tid != 0 && tid == CurrentThreadId())
        throw std::logic_error("a thread cannot wait for itself");
    if (IsMainThread() && !finished_.load()) {
        if (tid != 0 && IsServingBlockedCallFrom(tid))
            throw std::logic_error(
                "cannot wait for a thread from inside its own synchronized call");
        if (thread_.joinable())
            ServeMainThreadCallsUntil([this] { return finished_.load(); });
    }
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable())
        thread_.join();
}

std::exception_ptr TThread::FatalException() const {
    std::lock_guard lock(mutex_);
    return fatal_;
}

void TThread::SetPriority(TThreadPriority priority) {
    const pid_t tid = tid_.load();
    if (tid != 0 && !finished_.load()) {
        std::lock_guard lock(mutex_);
        // ESRCH: the thread has just ended; nothing is left to adjust.
        if (const int error = SetNice(tid, NiceFor(priority)); error != 0 && error != ESRCH)
            throw std::system_error(error, std::generic_category(), "thread priority refused");
    }
    priority_ = priority;
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (IsMainThread()) {
        method();
        return;
    }
    SyncCall call(method);
    HandToMainThread(call);
    if (call.error_)
        std::rethrow_exception(call.error_);
}

}  // namespace tarvik
