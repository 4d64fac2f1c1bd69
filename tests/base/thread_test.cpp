#include "base/thread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QTimer>

#include "base/main_thread.h"
#include "tests/base/qt_test_support.h"

namespace tarvik {
namespace {

using testing::LambdaThread;
using testing::RunEventLoopUntil;
using testing::WaitUntil;

MainThreadCallStats Delta(const MainThreadCallStats& before) {
    const MainThreadCallStats now = GetMainThreadCallStats();
    return {now.placed - before.placed, now.wakeUpsPosted - before.wakeUpsPosted,
            now.served - before.served, now.senderWakeUps - before.senderWakeUps,
            now.waiterWakeUps - before.waiterWakeUps};
}

TEST(TThread, CreatedSuspendedAndNeverRunWhenNotResumed) {
    std::atomic<bool> ran{false};
    {
        LambdaThread thread([&](LambdaThread&) { ran = true; });
        EXPECT_EQ(thread.ThreadId(), 0);
        EXPECT_FALSE(thread.Finished());
        EXPECT_EQ(thread.Priority(), TThreadPriority::tpNormal);
        thread.WaitFor();  // nothing to wait for
    }
    EXPECT_FALSE(ran);

    // Terminated before it starts: the body is skipped, the thread still ends.
    LambdaThread thread([&](LambdaThread&) { ran = true; });
    thread.Terminate();
    thread.Resume();
    EXPECT_NE(thread.ThreadId(), 0);
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(ran);
}

TEST(TThread, SynchronizedCallsRunOnTheMainThreadInOrder) {
    constexpr int kCalls = 50;
    struct Entry {
        int thread;
        int index;
        bool onMain;
    };
    std::vector<Entry> entries;  // touched by the main thread only
    auto body = [&](int id) {
        return [&entries, id](LambdaThread&) {
            for (int i = 0; i < kCalls; ++i)
                TThread::Synchronize([&entries, id, i] {
                    entries.push_back({id, i, IsMainThread()});
                });
        };
    };
    const MainThreadCallStats before = GetMainThreadCallStats();
    LambdaThread first(body(0));
    LambdaThread second(body(1));
    first.Resume();
    second.Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return entries.size() == 2 * kCalls; }));
    first.WaitFor();
    second.WaitFor();

    int next[2] = {0, 0};
    for (const Entry& entry : entries) {
        EXPECT_TRUE(entry.onMain);
        EXPECT_EQ(entry.index, next[entry.thread]++) << "thread " << entry.thread;
    }
    // One wake-up of the event loop per call, and a worker woke at most once
    // per call (not at all when its call was served before it went to
    // sleep): nothing polls.
    const MainThreadCallStats delta = Delta(before);
    EXPECT_EQ(delta.placed, 2u * kCalls);
    EXPECT_EQ(delta.wakeUpsPosted, 2u * kCalls);
    EXPECT_EQ(delta.served, 2u * kCalls);
    EXPECT_LE(delta.senderWakeUps, 2u * kCalls);
}

TEST(MainThread, ThreadIdsAreKeptPerThreadAndRenewedInAForkedChild) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(CurrentThreadId(), getpid());
    int status = -1;
    std::thread worker([&] {
        // Asked first on the worker, so its id is kept there; the child of a
        // fork from it is a process whose one thread is its main thread.
        const bool workerIsMain = IsMainThread();
        const bool workerIdRight = CurrentThreadId() == gettid();
        const pid_t child = fork();
        if (child == 0)
            _exit(IsMainThread() && CurrentThreadId() == getpid() ? 0 : 1);
        waitpid(child, &status, 0);
        EXPECT_FALSE(workerIsMain);
        EXPECT_TRUE(workerIdRight);
    });
    worker.join();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TThread, SynchronizeOnTheMainThreadRunsDirectly) {
    int calls = 0;
    TThread::Synchronize([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_THROW(TThread::Synchronize([] { throw std::runtime_error("direct"); }),
                 std::runtime_error);
}

struct CustomError {
    int code;
};

TEST(TThread, AnExceptionOfASynchronizedCallIsThrownInTheWorker) {
    std::string runtimeText;
    int customCode = 0;
    bool onMain = false;
    LambdaThread thread([&](LambdaThread&) {
        try {
            TThread::Synchronize([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& error) {
            runtimeText = error.what();
        }
        try {
            TThread::Synchronize([&] {
                onMain = IsMainThread();
                throw CustomError{42};
            });
        } catch (const CustomError& error) {
            customCode = error.code;
        }
        // Not caught: ends the body and is kept.
        TThread::Synchronize([] { throw std::out_of_range("kept"); });
        runtimeText = "not reached";
    });
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(runtimeText, "handler failed");
    EXPECT_EQ(customCode, 42);
    EXPECT_TRUE(onMain);
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::out_of_range);
}

TEST(TThread, ABodyThatThrowsKeepsItsError) {
    LambdaThread thread([](LambdaThread&) { throw std::runtime_error("body failed"); });
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    try {
        std::rethrow_exception(thread.FatalException());
        FAIL() << "no error kept";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "body failed");
    }
}

// The main thread waits outside its event loop, as Close does, while the
// worker is (or is about to be) blocked in a hand-over.
class WaitForDuringHandOver : public ::testing::TestWithParam<bool> {};

TEST_P(WaitForDuringHandOver, CompletesTheHandOverThenEnds) {
    const bool waitUntilPending = GetParam();
    std::vector<int> order;  // main thread only
    const MainThreadCallStats before = GetMainThreadCallStats();
    LambdaThread thread([&](LambdaThread& self) {
        TThread::Synchronize([&] { order.push_back(self.Terminated() ? 1 : -1); });
        TThread::Synchronize([&] { order.push_back(2); });
    });
    thread.Resume();
    if (waitUntilPending) {
        ASSERT_TRUE(WaitUntil([&] { return GetMainThreadCallStats().placed > before.placed; }));
    }
    thread.TerminateAndWait();

    EXPECT_EQ(order.size(), 2u);
    if (waitUntilPending) {
        EXPECT_EQ(order, (std::vector<int>{1, 2}));
    }
    EXPECT_EQ(order.back(), 2);
    EXPECT_FALSE(thread.FatalException());
    // The wait woke only for the two calls and the thread's end.
    const MainThreadCallStats delta = Delta(before);
    EXPECT_EQ(delta.served, 2u);
    EXPECT_LE(delta.waiterWakeUps, 3u);
}

INSTANTIATE_TEST_SUITE_P(Timing, WaitForDuringHandOver, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Pending" : "NotYetPending"; });

TEST(TThread, TerminateEndsABodyThatKeepsHandingOver) {
    int handed = 0;
    LambdaThread thread([&](LambdaThread& self) {
        while (!self.Terminated()) TThread::Synchronize([&] { ++handed; });
    });
    thread.Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return handed >= 3; }));
    thread.TerminateAndWait();
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.FatalException());
}

TEST(TThread, AWorkerHandingOverWithoutPauseLeavesTheEventLoopItsTurn) {
    // The main thread serves calls that follow each other closely without
    // going back to its loop; timers, painting and input must still come.
    std::atomic<long> handed{0};
    LambdaThread thread([&](LambdaThread& self) {
        while (!self.Terminated()) TThread::Synchronize([&] { ++handed; });
    });
    int ticks = 0;
    auto last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longestGap{};
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++ticks;
    });
    timer.start();
    thread.Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return ticks >= 20; }));
    thread.TerminateAndWait();
    EXPECT_GT(handed.load(), 20);
    // A 5 ms timer; far beyond what any slow build needs for a turn.
    EXPECT_LT(longestGap, std::chrono::milliseconds(500));
}

TEST(TThread, WaitsThatCouldNeverEndAreRefused) {
    std::string fromOwnCall;
    std::string fromItself;
    LambdaThread thread([&](LambdaThread& self) {
        try {
            self.WaitFor();
        } catch (const std::logic_error& error) {
            fromItself = error.what();
        }
        try {
            // The main thread, serving this very call, would wait for us forever.
            TThread::Synchronize([&] { self.WaitFor(); });
        } catch (const std::logic_error& error) {
            fromOwnCall = error.what();
        }
    });
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(fromItself, "a thread cannot wait for itself");
    EXPECT_EQ(fromOwnCall, "cannot wait for a thread from inside its own synchronized call");
}

TEST(TThread, WaitForOnAnotherWorkerJustWaits) {
    std::promise<void> release;
    auto released = release.get_future().share();
    LambdaThread worker([released](LambdaThread&) { released.wait(); });
    worker.Resume();
    std::atomic<bool> waited{false};
    LambdaThread waiter([&](LambdaThread&) {
        worker.WaitFor();
        waited = true;
    });
    waiter.Resume();
    EXPECT_FALSE(waited);
    release.set_value();
    waiter.WaitFor();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(worker.Finished());
}

int NiceOf(pid_t tid) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    EXPECT_EQ(errno, 0);
    return nice;
}

struct PriorityCase {
    TThreadPriority priority;
    int step;
};

class PriorityBelowNormal : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(PriorityBelowNormal, MovesTheThreadsNiceValue) {
    const int inherited = NiceOf(gettid());
    const int expected = std::clamp(inherited + GetParam().step, -20, 19);
    int seen = 1000;
    LambdaThread thread([&](LambdaThread&) { seen = NiceOf(gettid()); });
    thread.SetPriority(GetParam().priority);
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(thread.Priority(), GetParam().priority);
}

INSTANTIATE_TEST_SUITE_P(Steps, PriorityBelowNormal,
                         ::testing::Values(PriorityCase{TThreadPriority::tpNormal, 0},
                                           PriorityCase{TThreadPriority::tpLower, 5},
                                           PriorityCase{TThreadPriority::tpLowest, 10},
                                           PriorityCase{TThreadPriority::tpIdle, 19}));

TEST(TThread, PriorityChangesWhileRunning) {
    std::promise<void> release;
    auto released = release.get_future();
    LambdaThread thread([&](LambdaThread&) { released.wait(); });
    thread.Resume();
    const int inherited = NiceOf(thread.ThreadId());
    thread.SetPriority(TThreadPriority::tpLowest);
    EXPECT_EQ(NiceOf(thread.ThreadId()), std::clamp(inherited + 10, -20, 19));
    release.set_value();
    thread.WaitFor();
}

}  // namespace
}  // namespace tarvik
