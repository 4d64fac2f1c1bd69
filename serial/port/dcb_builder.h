#pragma once
// The device records a port's settings turn into, built without touching a
// device so that every field can be checked on its own. Pure; any thread
// that may read the port's settings (the main thread).

#include "serial/device/comm_records.h"

namespace cport {

class TCustomComPort;
class TComTimeouts;

// The device-control block for the port's line settings: rate, framing,
// parity checking and replacement, flow control, XON/XOFF limits (a quarter
// of the input queue size) and the event character. Fields no setting feeds
// (wReserved, EofChar, wReserved1, and ErrorChar while replacement is off)
// are 0.
device::DCB BuildDCB(const TCustomComPort& port);

// The time-out record, in milliseconds; each setting's 32 bits unchanged, so
// -1 becomes MAXDWORD.
device::COMMTIMEOUTS BuildCommTimeouts(const TComTimeouts& timeouts);

}  // namespace cport
