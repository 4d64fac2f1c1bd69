#include "tests/serial/termios2_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace cport::testutil {

unsigned TerminalOutputSpeed(int fd) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0)
        return 0;
    return line.c_ospeed;
}

TerminalLine ReadTerminalLine(int fd) {
    termios2 line{};
    TerminalLine got;
    if (ioctl(fd, TCGETS2, &line) != 0)
        return got;
    got.ok = true;
    got.iflag = line.c_iflag;
    got.cflag = line.c_cflag;
    got.startChar = line.c_cc[VSTART];
    got.stopChar = line.c_cc[VSTOP];
    got.inSpeed = line.c_ispeed;
    got.outSpeed = line.c_ospeed;
    return got;
}

}  // namespace cport::testutil
