#include "serial/port/com_event_watch.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "base/main_thread.h"
#include "serial/port/com_os_values.h"
#include "serial/port/custom_com_port.h"

namespace cport {

using namespace device;

std::unique_ptr<TComEventWatch> TComEventWatch::Start(TCustomComPort& port) {
    ComDevice& dev = port.Device();
    const ComHandle signal = dev.CreateEventA(true, false);
    if (signal == INVALID_HANDLE_VALUE)
        throw std::system_error(dev.GetLastError(), std::generic_category(),
                                "cannot create the port's wait signal");
    EventWatch fds;
    if (!dev.BeginEventWatch(signal, port.Handle(), &fds)) {
        dev.CloseHandle(signal);
        return nullptr;
    }
    std::unique_ptr<TComEventWatch> watch(new TComEventWatch(port, signal, fds));
    // As the thread: a device that refuses the mask refuses the wait too,
    // and the watch then just sleeps until it is stopped.
    dev.SetCommMask(port.Handle(), EventsToMask(port.Events()) |
                                       (port.WantsLineEvents() ? EV_LINEEVENT : 0));
    watch->Arm();
    // A wait over at once is reported from the event loop, as a thread's
    // would be: not inside Open.
    watch->due_.start(0);
    return watch;
}

TComEventWatch::TComEventWatch(TCustomComPort& port, ComHandle signal, const EventWatch& fds)
    : port_(port), device_(port.Device()), handle_(port.Handle()) {
    block_.hEvent = signal;
    signalNote_ = std::make_unique<QSocketNotifier>(fds.eventFd, QSocketNotifier::Read);
    deviceNote_ = std::make_unique<QSocketNotifier>(fds.deviceFd, QSocketNotifier::Read);
    QObject::connect(signalNote_.get(), &QSocketNotifier::activated, [this] { OnNews(); });
    QObject::connect(deviceNote_.get(), &QSocketNotifier::activated, [this] { OnNews(); });
    due_.setSingleShot(true);
    due_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&due_, &QTimer::timeout, [this] { OnNews(); });
}

TComEventWatch::~TComEventWatch() {
    Stop();
}

void TComEventWatch::Stop() {
    if (stopped_)
        return;
    stopped_ = true;
    due_.stop();
    signalNote_->setEnabled(false);
    deviceNote_->setEnabled(false);
    // Clearing the mask ends the pending wait, which refers to block_ and
    // mask_; the queues are emptied as a stopped thread empties them.
    device_.SetCommMask(handle_, 0);
    device_.PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
    device_.EndEventWatch(block_.hEvent);
    device_.CloseHandle(block_.hEvent);
}

bool TComEventWatch::Arm() {
    const bool endedAtOnce = device_.WaitCommEvent(handle_, &mask_, &block_);
    pending_ = endedAtOnce || device_.GetLastError() == static_cast<int>(ERROR_IO_PENDING);
    // A refused wait (a hung-up line) leaves the signal reset and nothing to
    // quiet the device's descriptor: only the signal is watched then.
    // (A notifier switched costs the event loop a wake-up of its own: only
    // a change is made.)
    if (deviceNote_->isEnabled() != pending_)
        deviceNote_->setEnabled(pending_);
    return endedAtOnce;
}

void TComEventWatch::OnNews() {
    if (stopped_)
        return;
    if (delivering_) {
        // A handler serves the event loop itself: its wake-up is not over,
        // so this one waits for it rather than keep the loop spinning.
        signalNote_->setEnabled(false);
        deviceNote_->setEnabled(false);
        quieted_ = true;
        return;
    }
    // Only the first look asks the device for news: a wait asked for again
    // has just been served by the device, and is over already only if it
    // says so. One that ends later sets the signal, which wakes this again.
    bool over = pending_ && device_.WaitForSingleObject(block_.hEvent, 0) == WAIT_OBJECT_0;
    while (over) {
        std::uint32_t unused = 0;
        const bool ended = device_.GetOverlappedResult(handle_, &block_, &unused, false);
        pending_ = false;
        if (ended) {
            Deliver(mask_);
            if (stopped_)
                return;  // closed by a handler; the port releases this object later
        }
        over = Arm();
    }
    ScheduleDue();
}

void TComEventWatch::Deliver(std::uint32_t mask) {
    delivering_ = true;
    try {
        port_.ReportWakeUp(MaskToEvents(mask), (mask & EV_LINEEVENT) != 0);
    } catch (...) {
        // Shown like any handler's error; reporting goes on.
        tarvik::PassToEventLoop(std::current_exception());
    }
    delivering_ = false;
    if (quieted_ && !stopped_) {
        // The next wait is asked for at once: the device is watched again.
        quieted_ = false;
        signalNote_->setEnabled(true);
        deviceNote_->setEnabled(true);
    }
}

void TComEventWatch::ScheduleDue() {
    std::int64_t dueInUs = -1;
    if (!pending_ || !device_.GetWaitDue(handle_, &dueInUs) || dueInUs < 0) {
        due_.stop();
        return;
    }
    due_.start(static_cast<int>(std::min<std::int64_t>((dueInUs + 999) / 1000, 1 << 30)));
}

}  // namespace cport
