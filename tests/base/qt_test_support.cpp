#include "tests/base/qt_test_support.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <memory>
#include <thread>

namespace tarvik::testing {

namespace {

int argc = 1;
char arg0[] = "base_qt_test";
char* argv[] = {arg0, nullptr};

RecordingApplication* app = nullptr;

class ApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app = new RecordingApplication(argc, argv); }
    void TearDown() override {
        delete app;
        app = nullptr;
    }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

bool RecordingApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        errors.emplace_back(error.what());
    } catch (...) {
        errors.emplace_back("unknown exception");
    }
    return false;
}

RecordingApplication& App() {
    return *app;
}

bool RunEventLoopUntil(const std::function<bool()>& done) {
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&expired] { expired = true; });
    deadline.start(kDeadline);
    while (!done()) {
        if (expired)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tarvik::testing
