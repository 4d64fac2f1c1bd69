#pragma once
// TComPort: the serial port object the program places on its window. All
// state and behaviour is TCustomComPort's; this class only publishes it, in
// the order Connected, BaudRate, Port, Parity, StopBits, DataBits,
// DiscardNull, EventChar, Events, Buffer, FlowControl, Timeouts, SyncMethod,
// then the handlers OnAfterOpen ... OnRx80Full.

#include "serial/port/custom_com_port.h"

namespace cport {

class TComPort : public TCustomComPort {
    Q_OBJECT

  public:
    using TCustomComPort::TCustomComPort;
};

}  // namespace cport
