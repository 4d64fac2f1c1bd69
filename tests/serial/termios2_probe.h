#pragma once
// What the kernel holds for a terminal, read with TCGETS2. Kept out of the
// tests' own sources: <asm/termbits.h> cannot share a unit with <termios.h>.

#include <cstdint>

namespace cport::testutil {

// The output speed in bits per second, or 0 when the descriptor is no terminal.
unsigned TerminalOutputSpeed(int fd);

// The flag words and the flow-control characters of a terminal. The flag
// bits and the VSTART/VSTOP indexes are those of <termios.h>.
struct TerminalLine {
    bool ok = false;  // false when the descriptor is no terminal
    std::uint32_t iflag = 0;
    std::uint32_t cflag = 0;
    std::uint8_t startChar = 0;  // XON
    std::uint8_t stopChar = 0;   // XOFF
    unsigned inSpeed = 0;
    unsigned outSpeed = 0;
};

TerminalLine ReadTerminalLine(int fd);

}  // namespace cport::testutil
