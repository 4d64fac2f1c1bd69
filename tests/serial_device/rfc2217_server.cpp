#include "tests/serial_device/rfc2217_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace cport::device::testing {

namespace {

constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253, DONT = 254;
constexpr std::uint8_t COM_PORT = 44;

void SendAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        at += static_cast<std::size_t>(n);
    }
}

std::string Escaped(const std::string& data) {
    std::string out;
    for (const char c : data) {
        out.push_back(c);
        if (static_cast<std::uint8_t>(c) == IAC) {
            out.push_back(c);
        }
    }
    return out;
}

std::string Sub(std::uint8_t code, const std::vector<std::uint8_t>& value) {
    std::string body(1, static_cast<char>(code));
    body.append(value.begin(), value.end());
    return std::string{char(IAC), char(SB), char(COM_PORT)} + Escaped(body) +
           std::string{char(IAC), char(SE)};
}

}  // namespace

Rfc2217Server::Rfc2217Server(Options options) : options_(std::move(options)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &len) != 0) {
        throw std::runtime_error("the test server cannot listen");
    }
    port_ = ntohs(at.sin_port);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
}

Rfc2217Server::~Rfc2217Server() {
    const std::uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    thread_.join();
    Drop();
    ::close(listener_);
    ::close(stop_);
}

std::string Rfc2217Server::Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

void Rfc2217Server::SendRaw(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
        SendAll(client_, bytes);
    }
}

std::vector<std::vector<std::uint8_t>> Rfc2217Server::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string Rfc2217Server::Data() const {
    std::lock_guard lock(mutex_);
    return data_;
}

void Rfc2217Server::Drop() {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
        ::shutdown(client_, SHUT_RDWR);
    }
}

void Rfc2217Server::Serve() {
    int client = -1;
    for (;;) {
        pollfd fds[3] = {{stop_, POLLIN, 0}, {listener_, POLLIN, 0}, {client, POLLIN, 0}};
        if (::poll(fds, client >= 0 ? 3 : 2, -1) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents != 0) {
            const int next = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard lock(mutex_);
            if (client >= 0) {
                ::close(client);
            }
            client = client_ = next;
            state_ = 0;
        }
        if (client >= 0 && fds[2].revents != 0) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) {
                std::lock_guard lock(mutex_);
                ::close(client);
                client = client_ = -1;
                continue;
            }
            Take(client, buffer, static_cast<std::size_t>(n));
        }
    }
    std::lock_guard lock(mutex_);
    if (client >= 0) {
        ::close(client);
        client_ = -1;
    }
}

// States: 0 data, 1 after IAC, 2 option verb, 3 SB option, 4 in SB, 5 IAC in SB.
void Rfc2217Server::Take(int client, const std::uint8_t* bytes, std::size_t n) {
    std::string echo, answer;
    std::uint8_t verb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
            case 0:
                if (b == IAC) {
                    state_ = 1;
                } else {
                    echo.push_back(static_cast<char>(b));
                }
                break;
            case 1:
                state_ = b == IAC ? 0 : b == SB ? 3 : b >= WILL ? 2 : 0;
                if (b == IAC) {
                    echo.push_back(static_cast<char>(b));
                }
                verb = b;
                break;
            case 2:
                if (verb == WILL && b == COM_PORT) {
                    if (options_.negotiation == Negotiation::kAccept) {
                        answer += std::string{char(IAC), char(DO), char(COM_PORT)};
                    } else if (options_.negotiation == Negotiation::kRefuse) {
                        answer += std::string{char(IAC), char(DONT), char(COM_PORT)};
                    }
                }
                state_ = 0;
                break;
            case 3:
                sub_.assign(1, b);
                state_ = 4;
                break;
            case 4:
                if (b == IAC) {
                    state_ = 5;
                } else {
                    sub_.push_back(b);
                }
                break;
            case 5:
                if (b == SE) {
                    state_ = 0;
                    if (sub_.size() >= 2 && sub_[0] == COM_PORT) {
                        const std::vector<std::uint8_t> request(sub_.begin() + 1, sub_.end());
                        {
                            std::lock_guard lock(mutex_);
                            requests_.push_back(request);
                        }
                        const std::uint8_t code = request[0];
                        std::vector<std::uint8_t> value(request.begin() + 1, request.end());
                        if (code == 0) {
                            value.assign(options_.signature.begin(), options_.signature.end());
                        }
                        const bool silent =
                            code == 5 && !value.empty() &&
                            std::find(options_.unanswered.begin(), options_.unanswered.end(),
                                      value[0]) != options_.unanswered.end();
                        if (!silent) {
                            answer += Sub(static_cast<std::uint8_t>(code + 100), value);
                        }
                    }
                } else {
                    sub_.push_back(b);
                    state_ = 4;
                }
                break;
        }
    }
    // Under the lock, so that nothing a test sends cuts into an answer.
    std::lock_guard lock(mutex_);
    data_ += echo;
    SendAll(client, answer);
    if (options_.echo) {
        SendAll(client, Escaped(echo));
    }
}

}  // namespace cport::device::testing
