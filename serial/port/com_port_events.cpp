// Event delivery on the port's side: the report steps, the steps that frame
// opening and closing, the notification window's procedure, and the event
// thread's life.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <exception>
#include <limits>

#include "base/main_thread.h"
#include "base/message_window.h"
#include "serial/error/com_error.h"
#include "serial/port/com_event_watch.h"
#include "serial/port/com_os_values.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_thread.h"
#include "serial/port/custom_com_port.h"
#include "serial/device/com_device.h"

namespace cport {

using namespace device;

// --- Report steps.

void TCustomComPort::ReportRxChar() {
    // Nothing waits when a handler already read what this wake-up announced.
    if (const std::int32_t count = BytesWaiting(); count > 0)
        NotifyRxChar(count);
}

void TCustomComPort::ReportTxEmpty() {
    NotifyTxEmpty();
}

void TCustomComPort::ReportRxFlag() {
    NotifyRxFlag();
}

void TCustomComPort::ReportRing() {
    NotifyRing();
}

void TCustomComPort::ReportBreak() {
    NotifyBreak();
}

void TCustomComPort::ReportCTSChange() {
    NotifyCTSChange(ModemSignals().Contains(msCTS));
}

void TCustomComPort::ReportDSRChange() {
    NotifyDSRChange(ModemSignals().Contains(msDSR));
}

void TCustomComPort::ReportRLSDChange() {
    NotifyRLSDChange(ModemSignals().Contains(msRLSD));
}

void TCustomComPort::ReportError() {
    // Empty when a read already collected the errors of this wake-up.
    if (const TComErrors errors = ReadLineErrors(); !errors.Empty())
        NotifyError(errors);
}

void TCustomComPort::ReportRx80Full() {
    NotifyRx80Full();
}

void TCustomComPort::ReportSignals(bool Open) {
    if (Open) {
        ReportCTSChange();
        ReportDSRChange();
        ReportRLSDChange();
    } else {
        NotifyCTSChange(false);
        NotifyDSRChange(false);
        NotifyRLSDChange(false);
    }
}

void TCustomComPort::ReportEvent(TComEvent event) {
    switch (event) {
        case evRxChar:
            ReportRxChar();
            break;
        case evTxEmpty:
            ReportTxEmpty();
            break;
        case evRxFlag:
            ReportRxFlag();
            break;
        case evRing:
            ReportRing();
            break;
        case evBreak:
            ReportBreak();
            break;
        case evCTS:
            ReportCTSChange();
            break;
        case evDSR:
            ReportDSRChange();
            break;
        case evError:
            ReportError();
            break;
        case evRLSD:
            ReportRLSDChange();
            break;
        case evRx80Full:
            ReportRx80Full();
            break;
    }
}

void TCustomComPort::ReportWakeUp(TComEvents events, bool lineNews) {
    for (const TComEvent event : kReportOrder) {
        if (!events.Contains(event))
            continue;
        // A handler that closed its port ends the wake-up: there is nothing
        // left to report on. Otherwise the port stays connected throughout.
        if (!Connected())
            return;
        ReportEvent(event);
    }
    if (lineNews && Connected())
        ReportLineEvents();
}

// --- Opening and closing.

void TCustomComPort::ReportBeforeOpen() {
    NotifyBeforeOpen();
}

void TCustomComPort::ReportAfterOpen() {
    NotifyAfterOpen();
    ReportSignals(true);
}

void TCustomComPort::ReportBeforeClose() {
    ReportSignals(false);
    NotifyBeforeClose();
}

void TCustomComPort::ReportAfterClose() {
    NotifyAfterClose();
}

// --- The notification window.

std::intptr_t TCustomComPort::NotifyWindowProc(std::uint32_t message, std::uintptr_t wParam,
                                               std::intptr_t lParam) {
    if (message != CM_COMEVENT)
        return tarvik::DefWindowProc(message, wParam, lParam);
    try {
        // Released first: the event thread goes back to waiting while the
        // handlers run here. Not while Close waits for the thread, though:
        // released, it would empty the driver's queues on its way out under
        // the handler that is about to read them.
        const bool closing = eventThread_ && eventThread_->StopRequested();
        if (tarvik::InSendMessage() && !closing)
            tarvik::ReplyMessage(0);
        if (Connected() && wParam == EV_LINEEVENT) {
            ReportLineEvents();
        } else if (Connected()) {
            const auto event =
                std::find_if(std::begin(kReportOrder), std::end(kReportOrder),
                             [wParam](TComEvent e) { return EventMaskBit(e) == wParam; });
            if (event != std::end(kReportOrder))
                ReportEvent(*event);
        }
    } catch (...) {
        // Shown like any handler's error; reporting goes on.
        tarvik::PassToEventLoop(std::current_exception());
    }
    return 0;
}

// --- The event thread.

void TCustomComPort::CreateEventThread() {
    if (events_.Empty() && !WantsLineEvents())
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (servedByEventLoop_ && app != nullptr && QThread::currentThread() == app->thread()) {
        eventWatch_ = TComEventWatch::Start(*this);
        if (eventWatch_)
            return;
    }
    // The window first: the thread may send to it as soon as it runs.
    if (syncMethod_ == smWindowSync) {
        notifyWindow_ = std::make_unique<tarvik::MessageWindow>(
            [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
                return NotifyWindowProc(message, wParam, lParam);
            });
    }
    try {
        eventThread_ = std::make_unique<TComThread>(*this);
    } catch (...) {
        notifyWindow_.reset();
        throw;
    }
}

void TCustomComPort::DestroyEventThread() {
    if (eventWatch_ && eventWatch_->Delivering()) {
        // Closed by a handler the watch is running: stopped now, released
        // once that handler has returned.
        TComEventWatch* watch = eventWatch_.release();
        watch->Stop();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [watch] { delete watch; }, Qt::QueuedConnection);
    }
    eventWatch_.reset();
    // The thread first, the window after it: nothing is ever sent to a
    // destroyed window.
    if (eventThread_) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app != nullptr && tarvik::IsMainThread() &&
            tarvik::IsServingBlockedCallFrom(eventThread_->ThreadId())) {
            // Closed by a handler the thread is waiting for: it cannot end
            // before that handler returns. It is told to stop now and
            // released from the event loop once it has (it no longer touches
            // the port then: it only finds its stop signal set).
            TComThread* thread = eventThread_.release();
            thread->RequestStop();
            QMetaObject::invokeMethod(
                app, [thread] { delete thread; }, Qt::QueuedConnection);
        } else {
            // Stopped while still reachable: the window procedure looks at it.
            eventThread_->StopAndWait();
            eventThread_.reset();
        }
    }
    notifyWindow_.reset();
}

}  // namespace cport
