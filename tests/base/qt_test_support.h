#pragma once
// Shared by the tests of the Qt-dependent base pieces: one application object
// for the whole run (its notify() records what handlers throw, as the
// program's error handler would show it), event-loop and condition waits with
// deadlines, and a thread whose body is a lambda.

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/thread.h"

namespace tarvik::testing {

class RecordingApplication : public QCoreApplication {
  public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override;

    std::vector<std::string> errors;  // main thread only
};

RecordingApplication& App();

constexpr std::chrono::seconds kDeadline{20};

// Main thread: runs the event loop until done() holds; false at the deadline.
bool RunEventLoopUntil(const std::function<bool()>& done);

// Any thread: re-checks done() until it holds; false at the deadline.
bool WaitUntil(const std::function<bool()>& done);

class LambdaThread : public TThread {
  public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    ~LambdaThread() override { TerminateAndWait(); }

  protected:
    void Execute() override { body_(*this); }

  private:
    std::function<void(LambdaThread&)> body_;
};

}  // namespace tarvik::testing
