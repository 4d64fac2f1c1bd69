#pragma once
// The runner's application object: an error that leaves an event's handler
// (the port hands some to the event loop, where nobody can show them) ends
// the run with that reason instead of ending the program unreported.
// Main thread.

#include <QCoreApplication>
#include <functional>
#include <string>

namespace tarvik::runner {

class RunApplication : public QCoreApplication {
  public:
    RunApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

    // Called with the error's text; the event counts as handled.
    void SetOnError(std::function<void(const std::string&)> onError) {
        onError_ = std::move(onError);
    }

    bool notify(QObject* receiver, QEvent* event) override;

  private:
    std::function<void(const std::string&)> onError_;
};

}  // namespace tarvik::runner
