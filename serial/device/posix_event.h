#pragma once
// A manual-reset event. Its state is a flag; an eventfd that is readable
// exactly while the event is set exists only for threads that block on it in
// a poll set together with devices (BeginPoll ... EndPoll). Setting,
// resetting, creating and closing an event that nobody polls costs no system
// call: a transfer that completes at once (the usual read of bytes already
// queued) never touches a descriptor.
//
// An event may be bound to the device whose pending transfer will set it; a
// thread waiting on it then also drives that device (there is no driver
// thread: the waiter services the device's input, time-outs and events
// itself). Any thread.

#include <atomic>
#include <memory>
#include <mutex>

namespace cport::device {

class PosixPort;

class PosixEvent {
  public:
    explicit PosixEvent(bool initialState) : set_(initialState) {}
    // Hands its descriptor back to a small pool for the next poller.
    ~PosixEvent();
    PosixEvent(const PosixEvent&) = delete;
    PosixEvent& operator=(const PosixEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const { return set_.load(std::memory_order_acquire); }

    // A thread about to block on the event: returns the descriptor to poll,
    // which becomes readable when the event is set after this call, or -1
    // with errno when no descriptor can be had. The caller looks at IsSet
    // after BeginPoll and polls only if it is false. Every successful
    // BeginPoll is paired with one EndPoll by the same thread.
    int BeginPoll();
    void EndPoll();

    void Bind(const std::shared_ptr<PosixPort>& port);
    void Unbind();
    std::shared_ptr<PosixPort> Bound();

  private:
    std::mutex mutex_;
    std::atomic<bool> set_;
    int fd_ = -1;               // made at the first BeginPoll
    bool fdSignalled_ = false;  // fd_'s counter is not 0
    int pollers_ = 0;           // threads between BeginPoll and EndPoll
    std::weak_ptr<PosixPort> bound_;
};

}  // namespace cport::device
