#pragma once
// The signals that ask a program to end (SIGINT, SIGTERM, SIGHUP) as events
// of the main thread's event loop: they are blocked in every thread and read
// from a signalfd through a socket notifier, so no work runs in a signal
// handler, and a face can close its port, release its lock file and finish
// its captures before it ends. Both faces use it. Main thread; Block() before
// any thread starts.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace tarvik {

class StopSignals {
  public:
    // Blocks the stop signals in the calling thread and every thread it
    // starts later. Call first in main().
    static void Block();
    // Unblocks them again; for a child process between fork and exec, since
    // a program started from here would inherit the blocked mask.
    static void Unblock();
    // A stop signal waits to be read (cheap: one system call). Any thread.
    static bool Pending();

    // Reads the blocked signals; `onStop` runs on the main thread with the
    // number of the first signal received (later ones are read and dropped).
    // Throws std::system_error when no signalfd can be had.
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

}  // namespace tarvik
