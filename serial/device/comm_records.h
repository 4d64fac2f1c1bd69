#pragma once
// The records and constants of the communications contract the port component
// is written against: the device-control block, the time-out record, the
// queue status, the overlapped transfer block and the flag values. The field
// order and widths are those of the contract; the values mean the same.
// Plain data, any thread.

#include <cstdint>

namespace cport::device {

// An open device or an event. Handles are never reused within one process run.
enum class ComHandle : std::intptr_t {};
inline constexpr ComHandle INVALID_HANDLE_VALUE{-1};

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// Results of WaitForSingleObject / WaitForMultipleObjects.
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// The one "error" number that is not one: a transfer was started and goes on.
// Every other last-error number is a Linux errno value.
inline constexpr int ERROR_IO_PENDING = 997;
// GetOverlappedResult without waiting on a transfer that still goes on.
inline constexpr int ERROR_IO_INCOMPLETE = 996;

// DCB flag bits (the 32-bit word at offset 8).
inline constexpr std::uint32_t DCB_fBinary = 0x0001;
inline constexpr std::uint32_t DCB_fParity = 0x0002;
inline constexpr std::uint32_t DCB_fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t DCB_fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DCB_fDtrControlMask = 0x0030;
inline constexpr std::uint32_t DCB_fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t DCB_fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t DCB_fOutX = 0x0100;
inline constexpr std::uint32_t DCB_fInX = 0x0200;
inline constexpr std::uint32_t DCB_fErrorChar = 0x0400;
inline constexpr std::uint32_t DCB_fNull = 0x0800;
inline constexpr std::uint32_t DCB_fRtsControlMask = 0x3000;
inline constexpr std::uint32_t DCB_fAbortOnError = 0x4000;

// fDtrControl values (already shifted into the flag word).
inline constexpr std::uint32_t DTR_CONTROL_DISABLE = 0x0000;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 0x0010;
inline constexpr std::uint32_t DTR_CONTROL_HANDSHAKE = 0x0020;
// fRtsControl values (already shifted into the flag word).
inline constexpr std::uint32_t RTS_CONTROL_DISABLE = 0x0000;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 0x1000;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 0x3000;

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;

inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// Device-control block, 28 bytes.
struct DCB {
    std::uint32_t DCBlength = sizeof(DCB);
    std::uint32_t BaudRate = 0;  // bits per second
    std::uint32_t Flags = DCB_fBinary;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28);

// Milliseconds; MAXDWORD has the special meanings of the contract.
struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Queue status of ClearCommError. The hold flags are always 0 here.
struct COMSTAT {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;   // bytes received and not yet read
    std::uint32_t cbOutQue = 0;  // bytes written and not yet sent
};

// One overlapped transfer. The caller owns it and keeps it (and the buffer
// and mask place handed over with it) valid until the transfer has ended.
// Internal and InternalHigh belong to the device layer: status and byte count.
struct OVERLAPPED {
    std::uintptr_t Internal = 0;      // 0, ERROR_IO_PENDING, or the errno that ended it
    std::uintptr_t InternalHigh = 0;  // bytes transferred
    std::uint32_t Offset = 0;         // unused: serial devices have no position
    std::uint32_t OffsetHigh = 0;
    ComHandle hEvent{0};  // manual-reset event set when the transfer ends
};

// Communications events (SetCommMask, WaitCommEvent).
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_ALL = 0x05FF;
// This system's own: asks for line events (ComDevice::TakeLineEvents).
// Outside every bit of the contract, so a mask without it means what the
// contract says.
inline constexpr std::uint32_t EV_LINEEVENT = 0x00010000;

// PurgeComm flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// ClearCommError error word.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;
inline constexpr std::uint32_t CE_TXFULL = 0x0100;
inline constexpr std::uint32_t CE_IOE = 0x0400;
inline constexpr std::uint32_t CE_MODE = 0x8000;

// GetCommModemStatus bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// EscapeCommFunction functions for the output lines and break.
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t CLRRTS = 4;
inline constexpr std::uint32_t SETDTR = 5;
inline constexpr std::uint32_t CLRDTR = 6;
inline constexpr std::uint32_t SETBREAK = 8;
inline constexpr std::uint32_t CLRBREAK = 9;

// GetCommOutputLines bits (the output lines that are on).
inline constexpr std::uint32_t SERIAL_DTR_STATE = 0x0001;
inline constexpr std::uint32_t SERIAL_RTS_STATE = 0x0002;

}  // namespace cport::device
