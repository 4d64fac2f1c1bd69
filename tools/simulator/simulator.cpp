#include "tools/simulator/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <system_error>

namespace tarvik::sim {

namespace {

constexpr std::size_t kChunk = 16384;  // bytes per write of a stream

[[noreturn]] void Throw(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

Simulator::Simulator(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    char name[256] = {};
    struct termios raw;
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        Throw("openpty");
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    stop_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stop_ < 0) {
        Throw("eventfd");
    }
}

Simulator::~Simulator() {
    ::close(stop_);
    ::close(slave_);
    ::close(master_);
}

void Simulator::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
}

void Simulator::OnInput(const std::uint8_t* data, std::size_t count) {
    received_ += count;
    switch (behaviour_.mode) {
        case Behaviour::Mode::kEcho:
            out_.append(reinterpret_cast<const char*>(data), count);
            break;
        case Behaviour::Mode::kReply:
            out_ += behaviour_.reply;
            break;
        case Behaviour::Mode::kStream:
            streamLeft_ += behaviour_.streamBytes;
            break;
        case Behaviour::Mode::kSilent:
            break;
    }
}

// Writes what waits; false when the master would block.
bool Simulator::Flush() {
    // Written bytes are only counted off until everything is out: erasing
    // them at each short write would move the rest every time.
    while (outAt_ < out_.size()) {
        const ssize_t n = ::write(master_, out_.data() + outAt_, out_.size() - outAt_);
        if (n > 0) {
            outAt_ += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    out_.clear();
    outAt_ = 0;
    return true;
}

void Simulator::Run() {
    using Clock = std::chrono::steady_clock;
    auto nextSend = Clock::now();
    std::uint8_t buffer[4096];
    for (;;) {
        // A stream is cut into chunks; with a rate, each chunk waits its turn.
        int timeoutMs = -1;
        if (out_.empty() && streamLeft_ > 0) {
            const auto now = Clock::now();
            if (behaviour_.bytesPerSecond == 0 || now >= nextSend) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
                    streamLeft_,
                    behaviour_.bytesPerSecond == 0
                        ? kChunk
                        : std::max<std::uint64_t>(1, behaviour_.bytesPerSecond / 100)));
                const std::size_t at = out_.size();
                out_.resize(at + n);
                std::uint8_t next = StreamByte(streamNext_);
                for (std::size_t i = 0; i < n; ++i) {
                    out_[at + i] = static_cast<char>(next);
                    next = next == 250 ? 0 : next + 1;  // StreamByte, counted on
                }
                streamNext_ += n;
                streamLeft_ -= n;
                if (behaviour_.bytesPerSecond != 0) {
                    nextSend = std::max(nextSend, now - std::chrono::milliseconds(100)) +
                               std::chrono::microseconds(n * 1000000 / behaviour_.bytesPerSecond);
                }
            } else {
                timeoutMs = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(nextSend - now).count());
            }
        }
        const bool blocked = !Flush();
        if (!out_.empty() && !blocked) {
            continue;
        }
        if (out_.empty() && streamLeft_ > 0 && timeoutMs < 0) {
            continue;  // next chunk at once
        }
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0},
                         {stop_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            Throw("poll");
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            for (;;) {
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    OnInput(buffer, static_cast<std::size_t>(n));
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else {
                    break;
                }
            }
        }
    }
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char c = text[++i];
        switch (c) {
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back('\0');
                break;
            case 'x':
                if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                    std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                    i += 2;
                    break;
                }
                out += "\\x";
                break;
            default:
                out.push_back(c);
                break;
        }
    }
    return out;
}

}  // namespace tarvik::sim
