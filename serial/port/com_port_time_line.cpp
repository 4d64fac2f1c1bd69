// The port's time line: the times of its transfers, its counters, the line
// events it hands on, and what it does when the line is lost and comes back.

#include <QMetaObject>
#include <exception>

#include "base/main_thread.h"
#include "serial/port/custom_com_port.h"
#include "serial/device/com_device.h"
#include "serial/device/net/net_address.h"
#include "serial/device/port_name.h"
#include "serial/ports/line_return_watcher.h"

namespace cport {

using namespace device;

TransferTimes TCustomComPort::LastReadTimes() const {
    TransferTimes times;
    if (Handle() == INVALID_HANDLE_VALUE || !Device().GetTransferTimes(Handle(), false, &times))
        return {};  // none completed since Open: the zero times say so
    return times;
}

TransferTimes TCustomComPort::LastWriteTimes() const {
    TransferTimes times;
    if (Handle() == INVALID_HANDLE_VALUE || !Device().GetTransferTimes(Handle(), true, &times))
        return {};
    return times;
}

std::string TCustomComPort::ServerSignature() const {
    std::string signature;
    if (Handle() == INVALID_HANDLE_VALUE || !Device().GetServerSignature(Handle(), &signature))
        return {};
    return signature;
}

LineCounters TCustomComPort::Counters() const {
    LineCounters counters;
    if (Handle() == INVALID_HANDLE_VALUE || !Device().GetLineCounters(Handle(), &counters))
        return {};  // a closed port, or a lost line already released
    return counters;
}

void TCustomComPort::ReportLineEvents() {
    std::vector<LineEvent> events;
    // Fails only for a device already closed, which has nothing left to tell.
    if (!Device().TakeLineEvents(Handle(), &events))
        return;
    for (const LineEvent& event : events) {
        if (event.kind == LineEventKind::kLost && !lineLost_) {
            lineLost_ = true;
            // Queued: this may run inside the event thread's hand-over (or on
            // that thread), which a reopen has to end first.
            if (reopenOnReturn_)
                QMetaObject::invokeMethod(
                    this, [this] { TryReopen(); }, Qt::QueuedConnection);
        }
        NotifyLineEvent(event);
    }
}

void TCustomComPort::NoteOpened() {
    lineLost_ = false;
    if (reopenOnReturn_)
        awaited_ = AwaitDevice(Port());
    NotifyLineEvent({LineEventKind::kOpened, clock_.Now(), false, 0, {}});
}

std::string TCustomComPort::AwaitedReturn() const {
    return awaited_.path.empty() ? std::string() : DescribeAwaited(awaited_);
}

void TCustomComPort::NoteClosed() {
    returnWatcher_.reset();
    returnTimer_.reset();
    returnPause_ = std::chrono::milliseconds(0);
    lineLost_ = false;
    NotifyLineEvent({LineEventKind::kClosed, clock_.Now(), false, 0, {}});
}

void TCustomComPort::TryReopen() {
    if (!Connected() || !lineLost_ || !reopenOnReturn_)
        return;
    // The dead device goes first: its locks (flock, a UUCP lock file on the
    // same name) would keep the returning one out.
    DestroyEventThread();
    CloseDevice();
    // A pseudo-terminal by its own name never returns: nothing to watch.
    if (awaited_.kind == AwaitedDevice::Kind::kNever)
        return;
    const ComHandle handle =
        HasReturned(awaited_) ? Device().CreateFileA(awaited_.path) : INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE) {
        SetHandle(handle);
        try {
            ApplySettings();
            CreateEventThread();
            lineLost_ = false;
            returnWatcher_.reset();
            NoteReopened(awaited_);
            // The timer stays: this may run in its own time-out.
            returnPause_ = std::chrono::milliseconds(0);
            NotifyLineEvent({LineEventKind::kBack, clock_.Now(), false, 0, {}});
            return;
        } catch (...) {
            // Back, but it refuses the settings: the user sees why, and the
            // port waits for the next change.
            DestroyEventThread();
            CloseDevice();
            tarvik::PassToEventLoop(std::current_exception());
        }
    }
    if (device::net::IsNetworkPortName(awaited_.path)) {
        RetryConnectLater();
        return;
    }
    if (!returnWatcher_) {
        // Queued from the watcher too: a reopen releases the watcher, which
        // must not go while it is calling out.
        returnWatcher_ = std::make_unique<TLineReturnWatcher>(awaited_.path, [this] {
            QMetaObject::invokeMethod(
                this, [this] { TryReopen(); }, Qt::QueuedConnection);
        });
        // It may have come back between the attempt and the watch.
        QMetaObject::invokeMethod(
            this, [this] { TryReopen(); }, Qt::QueuedConnection);
    }
}

void TCustomComPort::RetryConnectLater() {
    // No folder to watch for a server's return: tried again after a pause
    // that grows while it stays away, so a dead server costs little.
    using std::chrono::milliseconds;
    returnPause_ = returnPause_.count() == 0 ? milliseconds(250)
                                             : std::min(returnPause_ * 2, milliseconds(8000));
    if (!returnTimer_) {
        returnTimer_ = std::make_unique<QTimer>();
        returnTimer_->setSingleShot(true);
        QObject::connect(returnTimer_.get(), &QTimer::timeout, this, [this] { TryReopen(); });
    }
    returnTimer_->start(returnPause_);
}

}  // namespace cport
