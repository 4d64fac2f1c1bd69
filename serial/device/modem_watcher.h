#pragma once
// Waits for modem-line changes (CTS, DSR, carrier, ring) with TIOCMIWAIT on a
// thread of its own, since that ioctl blocks and cannot join a poll set. It
// costs nothing while the lines are quiet. Devices without modem lines never
// start one.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace cport::device {

class ModemWatcher {
  public:
    ModemWatcher() = default;
    ~ModemWatcher() { Stop(); }
    ModemWatcher(const ModemWatcher&) = delete;
    ModemWatcher& operator=(const ModemWatcher&) = delete;

    // onChange runs on the watcher thread after each change. Does nothing if
    // already running.
    void Start(int fd, std::function<void()> onChange);
    // Ends the thread. Must not be called while holding a lock onChange takes.
    void Stop();
    bool Running() const { return thread_.joinable(); }

  private:
    void Run(int fd);

    std::thread thread_;
    std::function<void()> onChange_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
    bool hasEnded_ = false;
};

}  // namespace cport::device
