// Opening, closing and handing settings to the device. Placeholders until
// the device side lands: Open and Close keep the state the settings model
// relies on, and the three hand-overs touch no device yet.

#include "serial/custom_com_port.h"

namespace cport {

void TCustomComPort::Open() {
    if (Connected())
        return;
    SetConnectedState(true);
}

void TCustomComPort::Close() {
    if (!Connected())
        return;
    SetConnectedState(false);
}

void TCustomComPort::SetDevice(device::ComDevice& value) { device_ = &value; }

void TCustomComPort::OpenDevice() {}

void TCustomComPort::CloseDevice() {}

void TCustomComPort::ApplySettings() {
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::ApplyDCB() {}

void TCustomComPort::ApplyTimeouts() {}

void TCustomComPort::ApplyBuffer() {}

void TCustomComPort::AfterLoad() {
    if (Connected()) {
        SetConnectedState(false);
        Open();
    }
}

}  // namespace cport
