// Output lines and break of an open Linux serial device.

#include <sys/ioctl.h>

#include <cerrno>

#include "serial/device/net/net_line.h"
#include "serial/device/posix_port.h"

namespace cport::device {

int PosixPort::EscapeCommFunction(std::uint32_t function) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if (hungUp_) {
        return EIO;
    }
    if (net_) {
        return NetEscape(function);
    }
    int request = 0;
    int bit = 0;
    switch (function) {
        case SETDTR:
            request = TIOCMBIS;
            bit = TIOCM_DTR;
            break;
        case CLRDTR:
            request = TIOCMBIC;
            bit = TIOCM_DTR;
            break;
        case SETRTS:
            request = TIOCMBIS;
            bit = TIOCM_RTS;
            break;
        case CLRRTS:
            request = TIOCMBIC;
            bit = TIOCM_RTS;
            break;
        case SETBREAK:
        case CLRBREAK:
            // The pty driver takes TIOCSBRK and does nothing: saying so is
            // better than a break reported as sent that never was.
            if (pseudoTerminal_) {
                return ENOTTY;
            }
            if (ioctl(fd_, function == SETBREAK ? TIOCSBRK : TIOCCBRK) != 0) {
                return errno;
            }
            breakHeld_ = function == SETBREAK;
            return 0;
        default:
            return EINVAL;
    }
    if (!hasModemLines_) {
        return ENOTTY;
    }
    return ioctl(fd_, request, &bit) == 0 ? 0 : errno;
}

int PosixPort::GetCommOutputLines(std::uint32_t* lines) {
    std::lock_guard lock(mutex_);
    *lines = 0;
    if (closed_) {
        return EBADF;
    }
    if (hungUp_) {
        return EIO;
    }
    if (net_) {
        if (!net_->Telnet()) {
            return ENOTTY;
        }
        // What was asked last: a server need not confirm it (ser2net serving a
        // pty never does), and the event log says so when it did not.
        *lines = (net_->Option().Dtr() ? SERIAL_DTR_STATE : 0) |
                 (net_->Option().Rts() ? SERIAL_RTS_STATE : 0);
        return 0;
    }
    if (!hasModemLines_) {
        return ENOTTY;
    }
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) {
        return errno;
    }
    *lines =
        ((bits & TIOCM_DTR) ? SERIAL_DTR_STATE : 0) | ((bits & TIOCM_RTS) ? SERIAL_RTS_STATE : 0);
    return 0;
}

void PosixPort::KeepOutputLines(int linesBefore) {
    int now = 0;
    if (ioctl(fd_, TIOCMGET, &now) != 0) {
        return;  // the line settings that follow will say what is wrong
    }
    int risen = now & ~linesBefore & (TIOCM_DTR | TIOCM_RTS);
    if (risen != 0) {
        ioctl(fd_, TIOCMBIC, &risen);
    }
}

}  // namespace cport::device
