// Opening, closing and handing settings to the device. Placeholders until
// the device side lands: they keep the state the settings model relies on
// and touch no device.

#include "serial/custom_com_port.h"

namespace cport {

void TCustomComPort::Open() {
    if (Connected()) return;
    SetConnectedState(true);
}

void TCustomComPort::Close() {
    if (!Connected()) return;
    SetConnectedState(false);
}

void TCustomComPort::ApplyDCB() {
    if (!AppliesSettings()) return;
}

void TCustomComPort::ApplyTimeouts() {
    if (!AppliesSettings()) return;
}

void TCustomComPort::ApplyBuffer() {
    if (!AppliesSettings()) return;
}

void TCustomComPort::AfterLoad() {
    if (Connected()) {
        SetConnectedState(false);
        Open();
    }
}

}  // namespace cport
