#include "serial/device/net/net_line.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/device/net/resolve.h"

namespace cport::device::net {

namespace {

using SteadyClock = std::chrono::steady_clock;

// One address within the time left: the connected socket, or -1 with *error.
int ConnectOne(const addrinfo& ai, SteadyClock::time_point until, int* error) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            ai.ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0) {
            *error = ETIMEDOUT;
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = errno;
            ::close(fd);
            return -1;
        }
        if (n == 0) {
            continue;  // the loop's own check says timed out
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
            soError = errno;
        }
        if (soError != 0) {
            *error = soError;
            ::close(fd);
            return -1;
        }
        return fd;
    }
}

}  // namespace

std::unique_ptr<NetLine> NetLine::Connect(const NetAddress& address,
                                          std::chrono::milliseconds limit, int* error) {
    const auto until = SteadyClock::now() + limit;
    // The lookup spends of the same limit as the connection.
    const AddrInfoList found = ResolveWithin(address.host, address.port, limit, error);
    if (!found) {
        return nullptr;
    }
    int fd = -1;
    for (const addrinfo* ai = found.get(); ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ConnectOne(*ai, until, error);
    }
    if (fd < 0) {
        return nullptr;
    }
    // Requests and answers are small: each goes out at once.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return std::unique_ptr<NetLine>(new NetLine(fd, address));
}

NetLine::~NetLine() {
    ::close(fd_);
}

std::optional<std::size_t> NetLine::Decode(std::uint8_t* data, std::size_t n) {
    if (!Telnet()) {
        return n;
    }
    const std::size_t kept = parser_.Feed(data, n, data);
    if (parser_.Failed()) {
        return std::nullopt;
    }
    for (const TelnetCommand& command : parser_.Commands()) {
        option_.Take(command, pending_);
    }
    parser_.Commands().clear();
    if (pending_.size() - sent_ > kMostUnsent) {
        fault_ = "more than 256 KiB of negotiation without reading the answers";
        return std::nullopt;
    }
    return kept;
}

int NetLine::Flush() {
    while (sent_ < pending_.size()) {
        const ssize_t n = ::send(fd_, pending_.data() + sent_, pending_.size() - sent_,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent_ += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    pending_.clear();
    sent_ = 0;
    return 0;
}

ssize_t NetLine::Send(const std::uint8_t* data, std::size_t n) {
    if (const int e = Flush(); e != 0) {
        errno = e;
        return -1;
    }
    if (option_.Suspended()) {
        errno = EAGAIN;
        return -1;
    }
    if (!Telnet()) {
        for (;;) {
            const ssize_t sent = ::send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            return sent;
        }
    }
    // Escaped a piece at a time; what the socket leaves of the piece waits
    // in pending_ and goes first next time, so the piece counts as taken.
    constexpr std::size_t kPiece = 16384;
    const std::size_t take = std::min(n, kPiece);
    scratch_.clear();
    AppendEscaped(data, take, scratch_);
    ssize_t sent;
    do {
        sent = ::send(fd_, scratch_.data(), scratch_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return -1;
    }
    pending_.assign(scratch_.begin() + sent, scratch_.end());
    sent_ = 0;
    return static_cast<ssize_t>(take);
}

}  // namespace cport::device::net
