#pragma once
// TPendingIo: one overlapped transfer of a port, from its start to its wait.
// Made by TCustomComPort::NewPendingIo and released by FreePendingIo, which
// also closes its completion event; whoever called NewPendingIo owns it. A
// record carries one transfer at a time. Any thread, one at a time.

#include <cstdint>

#include "serial/device/comm_records.h"

namespace cport {

enum TIoKind : std::uint8_t { ikWrite, ikRead };

struct TPendingIo {
    // Its hEvent is the completion event (manual reset, created set); every
    // other member is zero until a transfer starts.
    device::OVERLAPPED Overlapped;
    // Set when a transfer starts; chooses the error code of WaitForIo.
    TIoKind Kind = ikWrite;
    // False until a transfer has been started on the record: there is then
    // nothing to wait for and nothing to ask the device.
    bool Started = false;
};

}  // namespace cport
