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

}  // namespace cport::testutil
