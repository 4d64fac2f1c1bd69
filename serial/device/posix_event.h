#pragma once
// A manual-reset event over an eventfd: readable exactly while set, so a
// wait can put it into one poll set with devices. An event may be bound to
// the device whose pending transfer will set it; a thread waiting on it then
// also drives that device (there is no driver thread: the waiter services the
// device's input, time-outs and events itself).

#include <atomic>
#include <memory>
#include <mutex>

namespace cport::device {

class PosixPort;

class PosixEvent {
  public:
    // nullptr with errno set when the system has no descriptor left.
    static std::shared_ptr<PosixEvent> Create(bool initialState);
    explicit PosixEvent(int fd) : fd_(fd) {}
    ~PosixEvent();
    PosixEvent(const PosixEvent&) = delete;
    PosixEvent& operator=(const PosixEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const { return set_.load(std::memory_order_acquire); }
    int Fd() const { return fd_; }

    void Bind(const std::shared_ptr<PosixPort>& port);
    void Unbind();
    std::shared_ptr<PosixPort> Bound();

  private:
    const int fd_;
    std::mutex mutex_;
    std::atomic<bool> set_{false};
    std::weak_ptr<PosixPort> bound_;
};

}  // namespace cport::device
