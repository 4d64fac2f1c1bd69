#include "serial/port/custom_com_port.h"

#include "serial/port/com_buffer.h"
#include "serial/port/com_event_watch.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_thread.h"
#include "serial/port/com_timeouts.h"
#include "serial/ports/line_return_watcher.h"
#include "serial/device/posix_com_device.h"
#include "base/message_window.h"

namespace cport {

TCustomComPort::TCustomComPort(QObject* owner)
    : QObject(owner),
      device_(&device::PosixComDevice::Instance()),
      parity_(std::make_unique<TComParity>(this)),
      flowControl_(std::make_unique<TComFlowControl>(this)),
      timeouts_(std::make_unique<TComTimeouts>(this)),
      buffer_(std::make_unique<TComBuffer>(this)) {}

TCustomComPort::~TCustomComPort() {
    try {
        Close();
    } catch (...) {
        // Close stopped half-way (a close handler raised, or the purge
        // failed). A destructor cannot raise and there is no one left to
        // show the error to; the thread and the device are released all the
        // same, so neither outlives the object.
        ReleaseAfterFailedClose();
    }
    buffer_.reset();
    flowControl_.reset();
    timeouts_.reset();
    parity_.reset();
}

void TCustomComPort::ReleaseAfterFailedClose() noexcept {
    try {
        DestroyEventThread();
    } catch (...) {
        // Stopping the thread is all that was asked of it; its error has
        // nowhere to go.
    }
    CloseDevice();
    SetConnectedState(false);
}

void TCustomComPort::EndLoading() {
    loading_ = false;
    AfterLoad();
}

void TCustomComPort::NotifyAfterClose() {
    if (onAfterClose_)
        onAfterClose_(this);
}

void TCustomComPort::NotifyAfterOpen() {
    if (onAfterOpen_)
        onAfterOpen_(this);
}

void TCustomComPort::NotifyBeforeClose() {
    if (onBeforeClose_)
        onBeforeClose_(this);
}

void TCustomComPort::NotifyBeforeOpen() {
    if (onBeforeOpen_)
        onBeforeOpen_(this);
}

void TCustomComPort::NotifyRxChar(std::int32_t Count) {
    if (onRxChar_)
        onRxChar_(this, Count);
}

void TCustomComPort::NotifyTxEmpty() {
    if (onTxEmpty_)
        onTxEmpty_(this);
}

void TCustomComPort::NotifyBreak() {
    if (onBreak_)
        onBreak_(this);
}

void TCustomComPort::NotifyRing() {
    if (onRing_)
        onRing_(this);
}

void TCustomComPort::NotifyRxFlag() {
    if (onRxFlag_)
        onRxFlag_(this);
}

void TCustomComPort::NotifyCTSChange(bool OnOff) {
    if (onCTSChange_)
        onCTSChange_(this, OnOff);
}

void TCustomComPort::NotifyDSRChange(bool OnOff) {
    if (onDSRChange_)
        onDSRChange_(this, OnOff);
}

void TCustomComPort::NotifyError(TComErrors Errors) {
    if (onError_)
        onError_(this, Errors);
}

void TCustomComPort::NotifyRLSDChange(bool OnOff) {
    if (onRLSDChange_)
        onRLSDChange_(this, OnOff);
}

void TCustomComPort::NotifyRx80Full() {
    if (onRx80Full_)
        onRx80Full_(this);
}

void TCustomComPort::NotifyLineEvent(const LineEvent& Event) {
    if (onLineEvent_)
        onLineEvent_(this, Event);
}

}  // namespace cport
