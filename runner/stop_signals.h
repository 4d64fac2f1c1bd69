#pragma once
// SIGINT and SIGTERM as events of the main thread's event loop: the signals
// are blocked in every thread and read from a signalfd through a socket
// notifier, so no work runs in a signal handler and a wait of the run ends
// at once. Main thread; Block() before any thread starts.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace tarvik::runner {

class StopSignals {
  public:
    // Blocks SIGINT and SIGTERM in the calling thread and every thread it
    // starts later. Call first in main().
    static void Block();

    // Reads the blocked signals; `onStop` runs on the main thread with the
    // signal's number. Throws std::system_error when no signalfd can be had.
    explicit StopSignals(std::function<void(int)> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first signal received, or 0.
    int Received() const { return received_; }

  private:
    int fd_ = -1;
    int received_ = 0;
    std::function<void(int)> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarvik::runner
