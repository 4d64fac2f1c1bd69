#pragma once
// Turns a device-control block into the terminal settings and modem-line
// actions that express it on Linux, and judges whether the device took them.
// Pure functions, any thread; the system calls live in PosixComDevice.

#include <cstdint>

#include "serial/device/comm_records.h"
#include "serial/device/kernel_line.h"

namespace cport::device {

// What the device layer itself does with received bytes, since termios has
// no such options.
struct InputRules {
    bool parityMarks = false;  // the kernel marks bad bytes as 0xFF 0x00 c (PARMRK)
    bool replace = false;      // a marked byte becomes replaceChar
    std::uint8_t replaceChar = 0;
    bool discardNull = false;
    std::uint8_t eventChar = 0;  // EV_RXFLAG
};

enum class LineAction { kLeave, kClear, kSet };

struct LinePlan {
    KernelLine line;
    LineAction dtr = LineAction::kLeave;
    LineAction rts = LineAction::kLeave;
    InputRules input;
};

// 0, or EINVAL for a request this system cannot carry out: a data size outside
// 5..8, 1.5 stop bits with more than 5 data bits or 2 with 5, rate 0, equal
// XON and XOFF characters with XON/XOFF on, abort-on-error, and, on a device
// with modem lines, DSR output flow, DSR sensitivity, DTR handshake and RTS
// toggle (Linux has none of these). `current` supplies what the block does
// not set (HUPCL, the line discipline, the other control characters).
int PlanLine(const DCB& dcb, const KernelLine& current, bool hasModemLines, LinePlan* plan);

// Whether the settings read back are those asked for. A pseudo-terminal has
// no line: its driver forces 8 data bits without parity, and framing means
// nothing there, so those bits are not compared for it.
bool LineTaken(const KernelLine& asked, const KernelLine& got, bool pseudoTerminal);

}  // namespace cport::device
