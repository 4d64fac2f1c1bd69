#pragma once
// Shared by the window's tests: the real application object (so that errors
// take the default error handler's road through notify) and a recorder in
// place of the message box.

#include <QTest>
#include <vector>

#include "app/application.h"
#include "base/message_box.h"

namespace tarvik::test {

// Records every box instead of showing it; restores the previous function on destruction.
class BoxRecorder {
  public:
    BoxRecorder() {
        previous_ = SetMessageBoxFunction(
            [this](const MessageBoxRequest& request) { boxes.push_back(request); });
    }
    ~BoxRecorder() { SetMessageBoxFunction(previous_); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<MessageBoxRequest> boxes;

  private:
    MessageBoxFunction previous_;
};

}  // namespace tarvik::test

// QTEST_MAIN with the program's own application object.
#define TARVIK_APP_TEST_MAIN(TestClass)         \
    int main(int argc, char** argv) {           \
        tarvik::TApplication app(argc, argv);   \
        TestClass test;                         \
        return QTest::qExec(&test, argc, argv); \
    }
