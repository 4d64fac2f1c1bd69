#include "base/message_window.h"

#include <QCoreApplication>
#include <exception>
#include <stdexcept>
#include <vector>

#include "base/main_thread.h"

namespace tarvik {

namespace {

// What the main thread is handling, innermost last: the hand-over of a
// message from another thread, or null for a direct call. Main thread only.
std::vector<const MainThreadCall*>& Handling() {
    static std::vector<const MainThreadCall*> handling;
    return handling;
}

class HandlingScope {
  public:
    explicit HandlingScope(const MainThreadCall* call) { Handling().push_back(call); }
    ~HandlingScope() { Handling().pop_back(); }
    HandlingScope(const HandlingScope&) = delete;
    HandlingScope& operator=(const HandlingScope&) = delete;
};

class SentMessage : public MainThreadCall {
  public:
    SentMessage(const MessageWindow* window,
                std::shared_ptr<const MessageWindow::Procedure> procedure, std::uint32_t message,
                std::uintptr_t wParam, std::intptr_t lParam)
        : procedure_(std::move(procedure)), message_(message), wParam_(wParam), lParam_(lParam) {
        target = window;
    }

    std::intptr_t Run() noexcept override {
        // Copied first: after ReplyMessage the sender may destroy this call,
        // and the procedure may destroy its window.
        const auto procedure = procedure_;
        const std::uint32_t message = message_;
        const std::uintptr_t wParam = wParam_;
        const std::intptr_t lParam = lParam_;
        HandlingScope scope(this);
        try {
            return (*procedure)(message, wParam, lParam);
        } catch (...) {
            // Nobody on this path can handle it; the sender only gets 0.
            PassToEventLoop(std::current_exception());
            return 0;
        }
    }

  private:
    std::shared_ptr<const MessageWindow::Procedure> procedure_;
    std::uint32_t message_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};

}  // namespace

MessageWindow::MessageWindow(Procedure procedure)
    : procedure_(std::make_shared<const Procedure>(std::move(procedure))) {
    RequireMainThread("MessageWindow");
    if (QCoreApplication::instance() == nullptr)
        throw std::logic_error("MessageWindow needs a QCoreApplication");
}

MessageWindow::~MessageWindow() {
    CancelMainThreadCalls(this);
}

std::intptr_t MessageWindow::SendMessage(std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
    if (IsMainThread()) {
        const auto procedure = procedure_;
        HandlingScope scope(nullptr);
        return (*procedure)(message, wParam, lParam);
    }
    SentMessage call(this, procedure_, message, wParam, lParam);
    return HandToMainThread(call);
}

bool InSendMessage() {
    RequireMainThread("InSendMessage");
    const auto& handling = Handling();
    return !handling.empty() && handling.back() != nullptr;
}

bool ReplyMessage(std::intptr_t result) {
    RequireMainThread("ReplyMessage");
    const auto& handling = Handling();
    if (handling.empty() || handling.back() == nullptr)
        return false;
    return ReleaseMainThreadCall(handling.back(), result);
}

std::intptr_t DefWindowProc(std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

}  // namespace tarvik
