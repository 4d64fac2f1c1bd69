#pragma once
// What the device layer receives for each settings value: the numbers of the
// communications contract (the Windows DCB fields and event mask bits), which
// the Linux device layer maps onto termios. Pure functions, any thread.

#include <cstdint>

#include "serial/port/com_types.h"

namespace cport {

// Bits per second; brCustom stands for customRate.
std::int32_t BaudRateToBps(TBaudRate value, std::int32_t customRate);
// ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2.
std::uint8_t StopBitsToOs(TStopBits value);
// 5 to 8.
std::uint8_t DataBitsToOs(TDataBits value);
// NOPARITY 0, ODDPARITY 1, EVENPARITY 2, MARKPARITY 3, SPACEPARITY 4.
std::uint8_t ParityToOs(TParityBits value);
// DTR_CONTROL_DISABLE 0, _ENABLE 1, _HANDSHAKE 2.
std::uint8_t DTRControlToOs(TDTRFlowControl value);
// RTS_CONTROL_DISABLE 0, _ENABLE 1, _HANDSHAKE 2, _TOGGLE 3.
std::uint8_t RTSControlToOs(TRTSFlowControl value);

// EV_RXCHAR 0x0001 ... EV_RX80FULL 0x0400.
std::uint32_t EventMaskBit(TComEvent event);
std::uint32_t EventsToMask(TComEvents events);
// Mask bits that stand for no event are dropped.
TComEvents MaskToEvents(std::uint32_t mask);

}  // namespace cport
