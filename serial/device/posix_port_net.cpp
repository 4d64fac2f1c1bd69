// A port on the network: the socket stands where the tty's descriptor
// stands, so the queue, the transfers, the time-outs and the event waits are
// the device's own; here are the connection, the settings asked of an
// RFC 2217 server, its output lines and the line events its notifications
// bring.

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/device/line_plan.h"
#include "serial/device/net/net_line.h"
#include "serial/device/posix_port.h"

namespace cport::device {

using net::ComPortOption;
using net::NetLine;
namespace rfc = net::rfc2217;

std::shared_ptr<PosixPort> PosixPort::OpenNetwork(const net::NetAddress& address, int* error) {
    auto line = NetLine::Connect(address, NetLine::kConnectLimit, error);
    if (!line) {
        return nullptr;
    }
    const int epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        *error = errno;
        return nullptr;
    }
    epoll_event ev = {};
    ev.events = EPOLLIN | EPOLLET | EPOLLRDHUP;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, line->Fd(), &ev) != 0) {
        *error = errno;
        ::close(epollFd);
        return nullptr;
    }
    std::shared_ptr<PosixPort> port(new PosixPort(line->Fd(), epollFd));
    port->net_ = std::move(line);
    if (!port->net_->Telnet()) {
        return port;
    }
    std::unique_lock lock(port->mutex_);
    ComPortOption& option = port->net_->Option();
    option.Start(port->net_->Outgoing());
    port->FlushNet();
    const bool answered = port->AwaitNet(
        [&option] { return option.Accepted() != ComPortOption::Acceptance::kWaiting; },
        NetLine::kNegotiationLimit);
    // A server that takes the option and hangs up at once ("Port's device
    // already in use") has not opened the port.
    if (!answered || option.Accepted() == ComPortOption::Acceptance::kRefused || port->hungUp_) {
        *error = option.Accepted() == ComPortOption::Acceptance::kRefused ? net::kOptionRefused
                 : port->hungUp_ ? (port->net_->Fault().empty() ? ECONNRESET : net::kProtocolFault)
                                 : net::kServerSilent;
        lock.unlock();
        port->Close();
        return nullptr;
    }
    return port;
}

template <typename Done>
bool PosixPort::AwaitNet(Done done, std::chrono::milliseconds limit) {
    const auto until = SteadyClock::now() + limit;
    while (!done()) {
        if (hungUp_) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0 || queue_.Free() == 0) {
            return false;  // a full queue holds the answers back behind data
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0) {
            mayHaveInput_ = true;
            QueueOneRead();
        }
    }
    return true;
}

std::string PosixPort::NetLoss(int error) const {
    if (!net_) {
        return {};
    }
    if (error < 0) {
        int soError = 0;
        socklen_t len = sizeof soError;
        error = getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 ? soError : 0;
    }
    const std::string where = net::HostAndPort(net_->Address());
    switch (error) {
        case 0:
        case EPIPE:
            return "the server at " + where + " closed the connection";
        case ECONNRESET:
            return "the server at " + where + " reset the connection";
        case ETIMEDOUT:
            return "the connection to " + where + " timed out";
        default: {
            const char* what = strerrordesc_np(error);
            return "the connection to " + where + " failed: " +
                   (what != nullptr ? std::string(what) : "error " + std::to_string(error));
        }
    }
}

void PosixPort::FlushNet() {
    const int e = net_->Flush();
    if (e != 0 && e != EAGAIN) {
        HangUp(NetLoss(e));
        return;
    }
    UpdateInterest();
}

int PosixPort::NetSetCommState(const DCB& dcb) {
    const bool telnet = net_->Telnet();
    KernelLine unused;
    LinePlan plan;
    if (const int e = PlanLine(dcb, unused, telnet, &plan); e != 0) {
        return e;
    }
    // No kernel marks bad bytes on the far side of a socket.
    plan.input.parityMarks = false;
    filter_.SetRules(plan.input);
    eventChar_ = plan.input.eventChar;
    bitsPerSecond_ = dcb.BaudRate;
    if (!telnet) {
        return 0;  // raw TCP carries no line settings
    }
    ComPortOption& option = net_->Option();
    net::ComPortSettings asked;
    asked.baudRate = dcb.BaudRate;
    asked.dataSize = dcb.ByteSize;
    asked.parity = static_cast<std::uint8_t>(dcb.Parity + 1);
    asked.stopSize = dcb.StopBits == ONESTOPBIT ? 1 : dcb.StopBits == TWOSTOPBITS ? 2 : 3;
    const std::uint32_t rtsControl = dcb.Flags & DCB_fRtsControlMask;
    const bool hardware = (dcb.Flags & DCB_fOutxCtsFlow) != 0 || rtsControl == RTS_CONTROL_HANDSHAKE;
    asked.flow = hardware                                       ? rfc::kFlowHardware
                 : (dcb.Flags & (DCB_fOutX | DCB_fInX)) != 0 ? rfc::kFlowXonXoff
                                                               : rfc::kFlowNone;
    asked.dtr = plan.dtr == LineAction::kLeave ? option.Dtr() : plan.dtr == LineAction::kSet;
    asked.setRts = !hardware && plan.rts != LineAction::kLeave;
    asked.rts = plan.rts == LineAction::kSet;
    option.Apply(asked, net_->Outgoing());
    FlushNet();
    // Waits only for what this server has answered before: one that never
    // confirms DTR (ser2net serving a pty) costs the wait once.
    const std::uint32_t expected = ~netSilent_;
    AwaitNet([&] { return (option.Awaiting() & expected) == 0; }, NetLine::kConfirmLimit);
    if (hungUp_) {
        return EIO;
    }
    netSilent_ |= option.Awaiting();
    const std::uint32_t unconfirmed = (option.Awaiting() | option.Differing()) & ~netReported_;
    netReported_ |= unconfirmed;
    unconfirmedToSay_ |= unconfirmed;
    SayUnconfirmed();
    return 0;
}

void PosixPort::SayUnconfirmed() {
    if (unconfirmedToSay_ != 0 && WantsLineEvents()) {
        AddLineEvent(LineEventKind::kUnconfirmed, clock_.Now(), false, unconfirmedToSay_);
        unconfirmedToSay_ = 0;
    }
}

int PosixPort::NetEscape(std::uint32_t function) {
    if (!net_->Telnet()) {
        return ENOTTY;  // raw TCP has no lines and no break
    }
    std::uint8_t value = 0;
    switch (function) {
        case SETDTR:
            value = rfc::kDtrOn;
            break;
        case CLRDTR:
            value = rfc::kDtrOff;
            break;
        case SETRTS:
            value = rfc::kRtsOn;
            break;
        case CLRRTS:
            value = rfc::kRtsOff;
            break;
        case SETBREAK:
        case CLRBREAK:
            value = function == SETBREAK ? rfc::kBreakOn : rfc::kBreakOff;
            breakHeld_ = function == SETBREAK;
            break;
        default:
            return EINVAL;
    }
    net_->Option().Control(value, net_->Outgoing());
    FlushNet();
    return hungUp_ ? EIO : 0;
}

int PosixPort::NetPurge(std::uint32_t flags) {
    std::uint8_t which = 0;
    if ((flags & PURGE_RXCLEAR) != 0) {
        queue_.Clear();
        marks_.Clear();
        filter_.Reset();
        which |= 1;
    }
    if ((flags & PURGE_TXCLEAR) != 0) {
        which |= 2;
    }
    if (which != 0 && net_->Telnet() && !hungUp_) {
        net_->Option().Purge(which, net_->Outgoing());
        FlushNet();
    }
    return 0;
}

int PosixPort::ServerSignature(std::string* signature) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return EBADF;
    }
    if (!net_ || net_->Option().Signature().empty()) {
        return ENOENT;
    }
    *signature = net_->Option().Signature();
    return 0;
}

std::uint32_t PosixPort::NetModemStatus() const {
    const std::uint8_t m = netModem_;
    return ((m & rfc::kModemCts) ? MS_CTS_ON : 0) | ((m & rfc::kModemDsr) ? MS_DSR_ON : 0) |
           ((m & rfc::kModemRi) ? MS_RING_ON : 0) | ((m & rfc::kModemDcd) ? MS_RLSD_ON : 0);
}

void PosixPort::TakeNetNews() {
    ComPortOption& option = net_->Option();
    if (!option.Suspended()) {
        writable_ = true;  // a resume raises no edge: the socket was writable all along
    }
    auto& notes = option.Notifications();
    if (!notes.empty()) {
        const LineTime time = clock_.Now();
        for (const ComPortOption::Notification& note : notes) {
            std::uint32_t seen = 0;
            if (note.modem) {
                const std::uint8_t changed = (note.value ^ netModem_) & 0xF0;
                netModem_ = note.value;
                const auto line = [&](std::uint8_t bit, LineEventKind kind, std::uint32_t ev) {
                    if ((changed & bit) != 0) {
                        seen |= ev;
                        if (WantsLineEvents()) {
                            AddLineEvent(kind, time, (note.value & bit) != 0, 0);
                        }
                    }
                };
                line(rfc::kModemCts, LineEventKind::kCts, EV_CTS);
                line(rfc::kModemDsr, LineEventKind::kDsr, EV_DSR);
                line(rfc::kModemDcd, LineEventKind::kRlsd, EV_RLSD);
                line(rfc::kModemRi, LineEventKind::kRing,
                     (note.value & rfc::kModemRi) == 0 ? EV_RING : 0);
            } else {
                const auto error = [&](std::uint8_t bit, LineEventKind kind, std::uint32_t ce) {
                    if ((note.value & bit) != 0) {
                        errors_ |= ce;
                        seen |= ce == CE_BREAK ? EV_BREAK : EV_ERR;
                        if (WantsLineEvents()) {
                            AddLineEvent(kind, time, false, 1);
                        }
                    }
                };
                error(rfc::kLineBreak, LineEventKind::kBreak, CE_BREAK);
                error(rfc::kLineFrame, LineEventKind::kFrame, CE_FRAME);
                error(rfc::kLineParity, LineEventKind::kParity, CE_RXPARITY);
                error(rfc::kLineOverrun, LineEventKind::kOverrun, CE_OVERRUN);
            }
            events_ |= seen & mask_;
        }
        notes.clear();
    }
    if (net_->HasPending()) {
        FlushNet();  // answers to the server's negotiation
    }
}

}  // namespace cport::device
