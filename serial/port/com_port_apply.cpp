// Opening, closing and handing the settings groups to the device.

#include <exception>

#include "base/main_thread.h"
#include "serial/port/com_buffer.h"
#include "serial/error/com_error.h"
#include "serial/port/com_timeouts.h"
#include "serial/port/custom_com_port.h"
#include "serial/port/dcb_builder.h"
#include "serial/device/com_device.h"

namespace cport {

void TCustomComPort::Open() {
    if (Connected())
        return;
    ReportBeforeOpen();
    OpenDevice();
    SetConnectedState(true);
    try {
        ApplySettings();
    } catch (...) {
        CloseDevice();
        SetConnectedState(false);
        throw;
    }
    try {
        CreateEventThread();
    } catch (...) {
        // A line that cannot report its events is not left open half-made.
        DestroyEventThread();
        CloseDevice();
        SetConnectedState(false);
        throw;
    }
    NoteOpened();
    ReportAfterOpen();
}

void TCustomComPort::Close() {
    if (!Connected())
        return;
    ReportBeforeClose();
    // A lost line whose device is already released has nothing to abort.
    if (!lineLost_ || Handle() != device::INVALID_HANDLE_VALUE)
        AbortIo();
    DestroyEventThread();
    CloseDevice();
    SetConnectedState(false);
    NoteClosed();
    ReportAfterClose();
}

void TCustomComPort::SetDevice(device::ComDevice& value) {
    device_ = &value;
}

void TCustomComPort::OpenDevice() {
    // Linux has no "\\.\" namespace: the device layer maps the name itself
    // ("COM1" to /dev/ttyS0, a bare name under /dev, a path as it stands).
    const device::ComHandle handle = Device().CreateFileA(Port());
    if (handle == device::INVALID_HANDLE_VALUE)
        throw EComPort(ecOpen, Device().GetLastError());
    SetHandle(handle);
}

void TCustomComPort::CloseDevice() {
    if (Handle() == device::INVALID_HANDLE_VALUE)
        return;
    // The device is released whatever close reports (Linux frees the
    // descriptor even when close fails), so there is nothing to raise.
    Device().CloseHandle(Handle());
    SetHandle(device::INVALID_HANDLE_VALUE);
}

void TCustomComPort::ApplySettings() {
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::ApplyDCB() {
    if (!AppliesSettings())
        return;
    const device::DCB dcb = BuildDCB(*this);
    if (!Device().SetCommState(Handle(), dcb))
        throw EComPort(ecSetState, Device().GetLastError());
}

void TCustomComPort::ApplyTimeouts() {
    if (!AppliesSettings())
        return;
    const device::COMMTIMEOUTS timeouts = BuildCommTimeouts(Timeouts());
    if (!Device().SetCommTimeouts(Handle(), timeouts))
        throw EComPort(ecSetTimeouts, Device().GetLastError());
}

void TCustomComPort::ApplyBuffer() {
    if (!AppliesSettings())
        return;
    if (!Device().SetupComm(Handle(), static_cast<std::uint32_t>(Buffer().InputSize()),
                            static_cast<std::uint32_t>(Buffer().OutputSize())))
        throw EComPort(ecSetup, Device().GetLastError());
}

void TCustomComPort::AfterLoad() {
    if (!Connected())
        return;
    SetConnectedState(false);
    try {
        Open();
    } catch (...) {
        // Nobody up the loading path can handle it: the user sees it, the
        // window still opens.
        tarvik::PassToEventLoop(std::current_exception());
    }
}

}  // namespace cport
