#include "base/message_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <vector>

#include "base/main_thread.h"
#include "tests/base/qt_test_support.h"

namespace tarvik {
namespace {

using testing::App;
using testing::kDeadline;
using testing::LambdaThread;
using testing::RunEventLoopUntil;
using testing::WaitUntil;

constexpr std::uint32_t kNotify = 0x0401;

struct Seen {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool onMain;
    bool sent;
};

TEST(MessageWindow, AMessageFromAWorkerRunsOnTheMainThread) {
    std::vector<Seen> seen;  // main thread only
    MessageWindow window([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        seen.push_back({message, wParam, lParam, IsMainThread(), InSendMessage()});
        return static_cast<std::intptr_t>(wParam * 2);
    });
    std::vector<std::intptr_t> results;  // the worker's until it has ended
    LambdaThread thread([&](LambdaThread&) {
        for (std::uintptr_t code : {0x80u, 0x01u, 0x20u})
            results.push_back(window.SendMessage(kNotify, code, 0));
        results.push_back(window.SendMessage(0x0010, 0, -1));
    });
    thread.Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return seen.size() == 4; }));
    thread.WaitFor();

    ASSERT_EQ(seen.size(), 4u);
    const std::uintptr_t codes[] = {0x80, 0x01, 0x20};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].message, kNotify);
        EXPECT_EQ(seen[i].wParam, codes[i]);
        EXPECT_EQ(seen[i].lParam, 0);
        EXPECT_TRUE(seen[i].onMain);
        EXPECT_TRUE(seen[i].sent);
    }
    EXPECT_EQ(seen[3].message, 0x0010u);
    EXPECT_EQ(seen[3].lParam, -1);
    EXPECT_EQ(results, (std::vector<std::intptr_t>{0x100, 0x02, 0x40, 0}));
    EXPECT_FALSE(InSendMessage());
}

TEST(MessageWindow, ReplyMessageReleasesTheSenderBeforeTheProcedureReturns) {
    std::promise<std::intptr_t> sendReturned;
    auto returned = sendReturned.get_future();
    bool firstReply = false;
    bool secondReply = true;
    bool stillSent = false;
    bool senderWasFree = false;
    bool done = false;
    MessageWindow window([&](std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
        firstReply = ReplyMessage(7);
        secondReply = ReplyMessage(8);
        stillSent = InSendMessage();
        // The worker gets its result while this procedure still runs.
        senderWasFree = returned.wait_for(kDeadline) == std::future_status::ready;
        done = true;
        return 99;
    });
    LambdaThread thread(
        [&](LambdaThread&) { sendReturned.set_value(window.SendMessage(kNotify, 1, 0)); });
    thread.Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return done; }));
    thread.WaitFor();
    EXPECT_TRUE(firstReply);
    EXPECT_FALSE(secondReply);
    EXPECT_TRUE(stillSent);
    ASSERT_TRUE(senderWasFree);
    EXPECT_EQ(returned.get(), 7);
}

TEST(MessageWindow, AMessageSentOnTheMainThreadCallsTheProcedureDirectly) {
    bool sent = true;
    bool replied = true;
    MessageWindow window([&](std::uint32_t message, std::uintptr_t, std::intptr_t) {
        sent = InSendMessage();
        replied = ReplyMessage(1);
        return message == kNotify ? 5 : DefWindowProc(message, 0, 0);
    });
    EXPECT_EQ(window.SendMessage(kNotify, 0, 0), 5);
    EXPECT_FALSE(sent);
    EXPECT_FALSE(replied);
    EXPECT_EQ(window.SendMessage(0x0001, 0, 0), 0);
    EXPECT_FALSE(ReplyMessage(3));  // outside any procedure
}

TEST(MessageWindow, WaitForServesSentMessages) {
    std::vector<std::uintptr_t> codes;  // main thread only
    MessageWindow window([&](std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        ReplyMessage(0);
        codes.push_back(wParam);
        return 0;
    });
    LambdaThread thread([&](LambdaThread&) {
        for (std::uintptr_t code = 1; code <= 3; ++code) window.SendMessage(kNotify, code, 0);
    });
    thread.Resume();
    thread.TerminateAndWait();  // no event loop runs meanwhile
    EXPECT_EQ(codes, (std::vector<std::uintptr_t>{1, 2, 3}));
}

TEST(MessageWindow, DestroyingTheWindowReleasesQueuedSenders) {
    std::atomic<bool> ran{false};
    auto window =
        std::make_unique<MessageWindow>([&](std::uint32_t, std::uintptr_t, std::intptr_t) {
            ran = true;
            return 1;
        });
    std::intptr_t result = -1;
    const auto before = GetMainThreadCallStats();
    LambdaThread thread([&](LambdaThread&) { result = window->SendMessage(kNotify, 1, 0); });
    thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return GetMainThreadCallStats().placed > before.placed; }));
    window.reset();
    thread.WaitFor();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
}

TEST(MessageWindow, AnErrorOfTheProcedureReachesTheApplication) {
    App().errors.clear();
    MessageWindow window([](std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
        throw std::runtime_error("handler failed");
    });
    std::intptr_t result = -1;
    LambdaThread thread([&](LambdaThread&) { result = window.SendMessage(kNotify, 1, 0); });
    thread.Resume();
    ASSERT_TRUE(RunEventLoopUntil([] { return !App().errors.empty(); }));
    thread.WaitFor();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(App().errors, (std::vector<std::string>{"handler failed"}));
    App().errors.clear();
}

TEST(PassToEventLoop, AnErrorFromAnyThreadReachesTheApplication) {
    App().errors.clear();
    LambdaThread thread([](LambdaThread&) {
        PassToEventLoop(std::make_exception_ptr(std::runtime_error("from the worker")));
    });
    thread.Resume();
    thread.WaitFor();
    PassToEventLoop(std::make_exception_ptr(std::runtime_error("from the main thread")));
    ASSERT_TRUE(RunEventLoopUntil([] { return App().errors.size() == 2; }));
    EXPECT_EQ(App().errors, (std::vector<std::string>{"from the worker", "from the main thread"}));
    App().errors.clear();
}

// As when a handler closes its port: from inside the procedure, stop the
// sending thread (serving the message it sends meanwhile), then destroy the
// window the procedure belongs to.
TEST(MessageWindow, ItsProcedureCanStopTheSenderAndDestroyTheWindow) {
    std::vector<std::uintptr_t> codes;  // main thread only
    std::unique_ptr<MessageWindow> window;
    std::unique_ptr<LambdaThread> thread;
    window =
        std::make_unique<MessageWindow>([&](std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
            ReplyMessage(0);
            codes.push_back(wParam);
            if (wParam == 0) {
                thread->TerminateAndWait();
                window.reset();
            }
            return 0;
        });
    MessageWindow* target = window.get();
    thread = std::make_unique<LambdaThread>([target](LambdaThread& self) {
        for (std::uintptr_t code = 0; code == 0 || !self.Terminated(); ++code)
            target->SendMessage(kNotify, code, 0);
    });
    thread->Resume();
    ASSERT_TRUE(RunEventLoopUntil([&] { return window == nullptr; }));
    EXPECT_TRUE(thread->Finished());
    ASSERT_FALSE(codes.empty());
    for (std::size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], i);
}

}  // namespace
}  // namespace tarvik
