#pragma once
// A main-thread notification object with window-message semantics, where a
// hidden window would be used on other systems. A message sent from another
// thread is queued to the main thread, and the sender waits only until the
// window procedure releases it (ReplyMessage) or returns; a message sent on
// the main thread calls the procedure directly. The main thread runs queued
// messages from its event loop and while it waits in TThread::WaitFor.

#include <cstdint>
#include <functional>
#include <memory>

namespace tarvik {

class MessageWindow {
  public:
    // The window procedure: message number and two parameters in, result out.
    // It runs on the main thread. An exception leaving it for a message from
    // another thread releases the sender with result 0 and is thrown again
    // from the Qt event loop, where the application's notify() sees it.
    using Procedure = std::function<std::intptr_t(std::uint32_t message, std::uintptr_t wParam,
                                                  std::intptr_t lParam)>;

    // Main thread; needs a QCoreApplication (throws std::logic_error without).
    explicit MessageWindow(Procedure procedure);
    // Main thread. Messages still queued for the window are dropped, their
    // senders released with result 0. No thread may send to the window once
    // destruction has begun. It may be destroyed from inside its own procedure.
    ~MessageWindow();

    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Any thread. Returns the procedure's result, or the result given to
    // ReplyMessage when the procedure released the sender earlier.
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  private:
    std::shared_ptr<const Procedure> procedure_;
};

// Main thread, inside a window procedure: true when the message being handled
// was sent from another thread (also after ReplyMessage).
bool InSendMessage();

// Main thread, inside a window procedure: releases the thread that sent the
// message being handled, which gets result. False when the message was not
// sent from another thread, or its sender was already released.
bool ReplyMessage(std::intptr_t result);

// The default handling of a message the procedure does not know: nothing, 0.
std::intptr_t DefWindowProc(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace tarvik
