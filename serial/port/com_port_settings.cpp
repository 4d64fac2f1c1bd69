// The setters of TCustomComPort.

#include "serial/port/com_buffer.h"
#include "serial/error/com_error.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"
#include "serial/port/custom_com_port.h"

namespace cport {

namespace {

template <typename T>
bool Store(T& field, const T& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

}  // namespace

void TCustomComPort::ReapplyDCB() {
    if (AppliesSettings())
        ApplyDCB();
}

void TCustomComPort::ReapplyTimeouts() {
    if (AppliesSettings())
        ApplyTimeouts();
}

void TCustomComPort::ReapplyBuffer() {
    if (AppliesSettings())
        ApplyBuffer();
}

void TCustomComPort::SetConnected(bool value) {
    if (loading_) {
        // Opening waits until the whole description has been read (AfterLoad).
        connected_ = value;
        return;
    }
    if (value == connected_)
        return;
    if (value) {
        Open();
    } else {
        Close();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
    if (Store(baudRate_, value))
        ReapplyDCB();
}

void TCustomComPort::SetPort(const tarvik::Text& value) {
    if (!Store(port_, value))
        return;
    if (AppliesSettings()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetParity(const TComSettingsObject& value) {
    parity_->Assign(value);
    ReapplyDCB();
}

void TCustomComPort::SetStopBits(TStopBits value) {
    if (Store(stopBits_, value))
        ReapplyDCB();
}

void TCustomComPort::SetDataBits(TDataBits value) {
    if (Store(dataBits_, value))
        ReapplyDCB();
}

void TCustomComPort::SetDiscardNull(bool value) {
    if (Store(discardNull_, value))
        ReapplyDCB();
}

void TCustomComPort::SetEventChar(char value) {
    if (Store(eventChar_, value))
        ReapplyDCB();
}

void TCustomComPort::SetEvents(TComEvents value) {
    events_ = value;
}

void TCustomComPort::SetBuffer(const TComSettingsObject& value) {
    buffer_->Assign(value);
    ReapplyBuffer();
}

void TCustomComPort::SetFlowControl(const TComSettingsObject& value) {
    flowControl_->Assign(value);
    ReapplyDCB();
}

void TCustomComPort::SetTimeouts(const TComSettingsObject& value) {
    timeouts_->Assign(value);
    ReapplyTimeouts();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (value == syncMethod_)
        return;
    // The event thread and its notification path are chosen at Open.
    if (AppliesSettings())
        throw EComPort(ecConnectedChange);
    syncMethod_ = value;
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
    if (Store(customBaudRate_, value))
        ReapplyDCB();
}

}  // namespace cport
