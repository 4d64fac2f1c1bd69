// Only these two headers: <asm/termbits.h> clashes with glibc's <termios.h>.
#include "serial/device/kernel_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace cport::device {

static_assert(sizeof(KernelLine{}.cc) == NCCS);

int ReadKernelLine(int fd, KernelLine* line) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errno;
    }
    line->iflag = t.c_iflag;
    line->oflag = t.c_oflag;
    line->cflag = t.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT));
    line->lflag = t.c_lflag;
    line->line = t.c_line;
    std::memcpy(line->cc, t.c_cc, NCCS);
    line->outSpeed = t.c_ospeed;
    line->inSpeed = t.c_ispeed;
    return 0;
}

int WriteKernelLine(int fd, const KernelLine& line) {
    struct termios2 t;
    std::memset(&t, 0, sizeof t);
    t.c_iflag = line.iflag;
    t.c_oflag = line.oflag;
    // BOTHER takes the rate from c_ospeed as it stands; with the input-speed
    // bits clear the input runs at the output rate.
    t.c_cflag = (line.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
    if (line.inSpeed != 0 && line.inSpeed != line.outSpeed) {
        t.c_cflag |= BOTHER << IBSHIFT;
    }
    t.c_lflag = line.lflag;
    t.c_line = line.line;
    std::memcpy(t.c_cc, line.cc, NCCS);
    t.c_ospeed = line.outSpeed;
    t.c_ispeed = line.inSpeed != 0 ? line.inSpeed : line.outSpeed;
    if (ioctl(fd, TCSETS2, &t) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace cport::device
