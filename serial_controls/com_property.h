#pragma once
// TComProperty: the port setting a selector shows.

#include <cstdint>

namespace cport {

enum TComProperty : std::uint8_t {
    cpNone,         // no setting; the list stays empty
    cpPort,         // Port
    cpBaudRate,     // BaudRate
    cpDataBits,     // DataBits
    cpStopBits,     // StopBits
    cpParity,       // Parity().Bits()
    cpFlowControl,  // FlowControl().FlowControl()
};

}  // namespace cport
