#pragma once
// TComEventWatch: the event thread's work done by the main thread's own event
// loop, for a port that is ServedByEventLoop. The loop watches the device's
// descriptors and runs the report steps as soon as it wakes: one wake-up per
// arrival and no hand-over, where the thread costs a wake-up of its own and a
// synchronised call besides. For a program whose main thread does little but
// serve its port (the runner); a window, whose handlers may take their time,
// keeps the thread.
//
// Threads: made, served and destroyed on the main thread of a running
// application.

#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "serial/device/com_device.h"

namespace cport {

class TCustomComPort;

class TComEventWatch {
  public:
    // Sets the device's event mask from the port's Events as they are now
    // and asks for the first wait. nullptr, with nothing changed, when the
    // device cannot be watched from an event loop: the port takes the thread then.
    // Throws std::system_error when the wait's signal cannot be made.
    static std::unique_ptr<TComEventWatch> Start(TCustomComPort& port);
    // Stop, if not done yet.
    ~TComEventWatch();
    TComEventWatch(const TComEventWatch&) = delete;
    TComEventWatch& operator=(const TComEventWatch&) = delete;

    // True while the report steps of a wake-up run: a handler that closes the
    // port must leave this object alive until they return.
    bool Delivering() const { return delivering_; }
    // Clears the mask (ending the pending wait), empties the queues as the
    // thread does when stopped, and ends the watch: the device is no longer
    // touched afterwards. Before the port closes its device.
    void Stop();

  private:
    TComEventWatch(TCustomComPort& port, device::ComHandle signal, const device::EventWatch& fds);
    // Asks for the next wait; watches the device only while one is pending.
    // True when the wait ended as it was asked for.
    bool Arm();
    // A descriptor woke, or the device's due time came: every wait that is
    // over is reported, and the next one asked for.
    void OnNews();
    void Deliver(std::uint32_t mask);
    void ScheduleDue();

    TCustomComPort& port_;
    device::ComDevice& device_;
    device::ComHandle handle_;
    device::OVERLAPPED block_{};
    std::uint32_t mask_ = 0;
    bool pending_ = false;
    bool delivering_ = false;
    bool stopped_ = false;
    // Switched off while a handler served the event loop.
    bool quieted_ = false;
    std::unique_ptr<QSocketNotifier> signalNote_;
    std::unique_ptr<QSocketNotifier> deviceNote_;
    QTimer due_;
};

}  // namespace cport
