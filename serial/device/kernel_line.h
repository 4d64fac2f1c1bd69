#pragma once
// The terminal settings of a device as the kernel holds them, read and written
// through termios2 so any bit rate can be set and read back. No termios type
// crosses this header: <asm/termbits.h> (needed for termios2) cannot share a
// translation unit with glibc's <termios.h>. The flag values are the same in
// both, so callers use <termios.h> names on these fields.

#include <cstdint>

namespace cport::device {

struct KernelLine {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;  // without the speed bits (CBAUD, CIBAUD)
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[19] = {};
    std::uint32_t outSpeed = 0;  // bits per second
    std::uint32_t inSpeed = 0;   // bits per second; equal to outSpeed unless split
};

// Both return 0 or an errno value.
int ReadKernelLine(int fd, KernelLine* line);
int WriteKernelLine(int fd, const KernelLine& line);

}  // namespace cport::device
