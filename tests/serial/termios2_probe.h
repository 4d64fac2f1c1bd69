#pragma once
// What the kernel holds for a terminal, read with TCGETS2. Kept out of the
// tests' own sources: <asm/termbits.h> cannot share a unit with <termios.h>.

namespace cport::testutil {

// The output speed in bits per second, or 0 when the descriptor is no terminal.
unsigned TerminalOutputSpeed(int fd);

}  // namespace cport::testutil
