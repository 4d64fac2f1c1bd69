#include "serial/device/line_plan.h"

#include <termios.h>

#include <cerrno>

namespace cport::device {

namespace {

constexpr std::uint32_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;

}  // namespace

int PlanLine(const DCB& dcb, const KernelLine& current, bool hasModemLines, LinePlan* plan) {
    const std::uint32_t f = dcb.Flags;
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        return EINVAL;
    }
    // A UART makes 1.5 stop bits only with 5 data bits, and with 5 data bits
    // its "two" stop bits are 1.5.
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) {
        return EINVAL;
    }
    if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) {
        return EINVAL;
    }
    if ((f & DCB_fAbortOnError) != 0 || (f & DCB_fDtrControlMask) == DCB_fDtrControlMask) {
        return EINVAL;
    }
    if ((f & (DCB_fOutX | DCB_fInX)) != 0 && dcb.XonChar == dcb.XoffChar) {
        return EINVAL;
    }
    const std::uint32_t dtr = f & DCB_fDtrControlMask;
    const std::uint32_t rts = f & DCB_fRtsControlMask;
    if (hasModemLines && ((f & (DCB_fOutxDsrFlow | DCB_fDsrSensitivity)) != 0 ||
                          dtr == DTR_CONTROL_HANDSHAKE || rts == RTS_CONTROL_TOGGLE)) {
        return EINVAL;
    }

    KernelLine& line = plan->line;
    line = current;
    // Raw: no echo, no signals, no line editing, no output processing.
    line.lflag = 0;
    line.oflag = 0;
    // Breaks are counted by the driver (EV_BREAK, CE_BREAK), not put into the data.
    line.iflag = IGNBRK;
    if ((f & DCB_fParity) != 0) {
        line.iflag |= INPCK | PARMRK;
    }
    if ((f & DCB_fOutX) != 0) {
        line.iflag |= IXON;
    }
    if ((f & DCB_fInX) != 0) {
        line.iflag |= IXOFF;
    }

    line.cflag = (current.cflag & HUPCL) | CREAD | CLOCAL;
    static constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
    line.cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
        case ODDPARITY:
            line.cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            line.cflag |= PARENB;
            break;
        case MARKPARITY:
            line.cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            line.cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (dcb.StopBits != ONESTOPBIT) {
        line.cflag |= CSTOPB;
    }
    // Linux has one switch for both: CTS gates output, RTS follows the input.
    if ((f & DCB_fOutxCtsFlow) != 0 || rts == RTS_CONTROL_HANDSHAKE) {
        line.cflag |= CRTSCTS;
    }

    line.cc[VMIN] = 1;
    line.cc[VTIME] = 0;
    line.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    line.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
    line.outSpeed = dcb.BaudRate;
    line.inSpeed = dcb.BaudRate;

    plan->dtr = dtr == DTR_CONTROL_ENABLE ? LineAction::kSet : LineAction::kClear;
    if (rts == RTS_CONTROL_ENABLE) {
        plan->rts = LineAction::kSet;
    } else if (rts == RTS_CONTROL_DISABLE) {
        plan->rts = LineAction::kClear;
    } else {
        plan->rts = LineAction::kLeave;
    }

    InputRules& in = plan->input;
    in = InputRules{};
    in.parityMarks = (f & DCB_fParity) != 0;
    in.replace = in.parityMarks && (f & DCB_fErrorChar) != 0;
    in.replaceChar = static_cast<std::uint8_t>(dcb.ErrorChar);
    in.discardNull = (f & DCB_fNull) != 0;
    in.eventChar = static_cast<std::uint8_t>(dcb.EvtChar);
    return 0;
}

bool LineTaken(const KernelLine& asked, const KernelLine& got, bool pseudoTerminal) {
    const std::uint32_t ignored = pseudoTerminal ? kFramingBits : 0;
    return asked.iflag == got.iflag && asked.oflag == got.oflag && asked.lflag == got.lflag &&
           (asked.cflag & ~ignored) == (got.cflag & ~ignored) && asked.cc[VMIN] == got.cc[VMIN] &&
           asked.cc[VTIME] == got.cc[VTIME] && asked.cc[VSTART] == got.cc[VSTART] &&
           asked.cc[VSTOP] == got.cc[VSTOP] && asked.outSpeed == got.outSpeed &&
           asked.inSpeed == got.inSpeed;
}

}  // namespace cport::device
