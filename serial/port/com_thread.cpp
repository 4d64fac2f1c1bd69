#include "serial/port/com_thread.h"

#include <sched.h>

#include <system_error>

#include "base/message_window.h"
#include "serial/port/com_os_values.h"
#include "serial/port/custom_com_port.h"
#include "serial/device/com_device.h"

namespace cport {

using namespace device;

TComThread::TComThread(TCustomComPort& port) : port_(port), device_(port.Device()) {
    ComDevice& dev = device_;
    stopSignal_ = dev.CreateEventA(true, false);
    if (stopSignal_ == INVALID_HANDLE_VALUE)
        throw std::system_error(dev.GetLastError(), std::generic_category(),
                                "cannot create the event thread's stop signal");
    SetPriority(tarvik::TThreadPriority::tpNormal);
    // Not examined: a device that refuses the mask refuses the wait request
    // too, and the body then just sleeps until it is stopped.
    dev.SetCommMask(port.Handle(), EventsToMask(port.Events()) |
                                       (port.WantsLineEvents() ? EV_LINEEVENT : 0));
    try {
        Resume();
    } catch (...) {
        dev.SetCommMask(port.Handle(), 0);
        dev.CloseHandle(stopSignal_);
        throw;
    }
}

TComThread::~TComThread() {
    StopAndWait();
}

void TComThread::StopAndWait() {
    RequestStop();
    TerminateAndWait();
}

void TComThread::RequestStop() {
    stopRequested_ = true;
    // Fails harmlessly once the body has ended and closed the signal:
    // handles are never reused.
    device_.SetEvent(stopSignal_);
    sched_yield();
}

void TComThread::Execute() {
    // Fixed for the thread's life: the port changes neither while it is open.
    ComDevice& dev = device_;
    const ComHandle handle = port_.Handle();

    // One request block and signal for every wait. The signal starts set and
    // the device sets it also for a request that completes at once, so the
    // loop never needs the request's own result.
    OVERLAPPED block{};
    block.hEvent = dev.CreateEventA(true, true);
    const ComHandle waitOn[2] = {stopSignal_, block.hEvent};
    std::uint32_t mask = 0;

    bool stopped = false;
    // Runs however the body ends. Clearing the mask also ends the pending
    // request, which refers to block and mask on this stack. The queues are
    // emptied only on a regular stop: after a handler's error the port stays
    // open, and what it received stays readable.
    struct Cleanup {
        ComDevice& dev;
        ComHandle handle;
        ComHandle waitOn[2];
        const bool& stopped;
        ~Cleanup() {
            dev.SetCommMask(handle, 0);
            if (stopped)
                dev.PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
            dev.CloseHandle(waitOn[1]);
            dev.CloseHandle(waitOn[0]);
        }
    } cleanup{dev, handle, {waitOn[0], waitOn[1]}, stopped};

    std::uint32_t woken;
    do {
        dev.WaitCommEvent(handle, &mask, &block);
        // Index 0 wins when both are set: a stop request beats a wake-up.
        woken = dev.WaitForMultipleObjects(2, waitOn, false, INFINITE);
        std::uint32_t unused = 0;
        if (woken == WAIT_OBJECT_0 + 1 && dev.GetOverlappedResult(handle, &block, &unused, false)) {
            lastEvents_ = MaskToEvents(mask);
            lineNews_ = (mask & EV_LINEEVENT) != 0;
            DeliverEvents();
        }
    } while (woken == WAIT_OBJECT_0 + 1);
    stopped = true;
}

void TComThread::DeliverEvents() {
    switch (port_.SyncMethod()) {
        case smThreadSync:
            Synchronize([this] { ProcessEvents(); });
            break;
        case smWindowSync:
            SendEventMessages();
            break;
        case smNone:
            ProcessEvents();
            break;
    }
}

void TComThread::ProcessEvents() {
    port_.ReportWakeUp(lastEvents_, lineNews_);
}

void TComThread::SendEventMessages() {
    tarvik::MessageWindow* window = port_.notifyWindow_.get();
    if (window == nullptr)
        return;
    for (const TComEvent event : kReportOrder) {
        if (lastEvents_.Contains(event))
            window->SendMessage(CM_COMEVENT, EventMaskBit(event), 0);
    }
    if (lineNews_)
        window->SendMessage(CM_COMEVENT, EV_LINEEVENT, 0);
}

}  // namespace cport
