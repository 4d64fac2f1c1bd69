#include "tools/simulator/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "tools/simulator/pty_line.h"
#include "tools/simulator/pty_link.h"

namespace tarvik::sim {

namespace {

constexpr std::size_t kChunk = 16384;  // bytes per write of a stream

constexpr char kStop = 's';
constexpr char kUnplug = 'u';
constexpr char kReplug = 'r';

[[noreturn]] void Throw(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int MillisecondsUntil(std::chrono::steady_clock::time_point when) {
    const auto left = when - std::chrono::steady_clock::now();
    return static_cast<int>(
        std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

// The sooner of two poll timeouts, where -1 means none.
int Sooner(int a, int b) {
    if (a < 0) {
        return b;
    }
    return b < 0 ? a : std::min(a, b);
}

}  // namespace

Simulator::Simulator(Behaviour behaviour, Plugging plugging)
    : behaviour_(std::move(behaviour)),
      plugging_(std::move(plugging)),
      plugClock_(plugging_.schedule) {
    if (!plugging_.linkPath.empty()) {
        link_ = std::make_unique<PtyLink>(plugging_.linkPath);
    }
    line_ = std::make_unique<PtyLine>();
    slavePath_ = line_->SlavePath();
    if (link_) {
        link_->PointTo(slavePath_);
    }
    // Last: a throw above leaves nothing of it behind.
    if (pipe2(requests_, O_NONBLOCK | O_CLOEXEC) != 0) {
        Throw("pipe2");
    }
    plugClock_.Plugged(std::chrono::steady_clock::now());
    if (behaviour_.mode == Behaviour::Mode::kReplay)
        player_ =
            std::make_unique<ReplayPlayer>(behaviour_.replay, std::chrono::steady_clock::now());
}

Simulator::~Simulator() {
    link_.reset();
    line_.reset();
    ::close(requests_[0]);
    ::close(requests_[1]);
}

int Simulator::MasterFd() const {
    return line_ ? line_->MasterFd() : -1;
}

void Simulator::Request(char command) {
    // Only a write(): async-signal-safe. A full pipe (thousands of requests
    // not yet served) drops this one.
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(requests_[1], &command, 1);
    errno = saved;
}

void Simulator::Stop() {
    // The flag too: a full pipe must not lose this one.
    stopping_ = true;
    Request(kStop);
}

void Simulator::Unplug() {
    Request(kUnplug);
}

void Simulator::Replug() {
    Request(kReplug);
}

bool Simulator::TakeRequests() {
    char commands[64];
    for (;;) {
        const ssize_t n = ::read(requests_[0], commands, sizeof commands);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return !stopping_;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (commands[i] == kStop) {
                return false;
            }
            if (commands[i] == kUnplug && line_) {
                DoUnplug(false);
            } else if (commands[i] == kReplug && !line_) {
                DoReplug();
            }
        }
    }
}

void Simulator::DoUnplug(bool scheduled) {
    // The link goes first: an opener that sees the hang-up finds no link
    // until the next pty is there.
    if (link_) {
        link_->Remove();
    }
    line_.reset();
    // A new device starts afresh: nothing owed from the old line.
    out_.clear();
    outAt_ = 0;
    streamLeft_ = 0;
    streamNext_ = 0;
    plugClock_.Unplugged(std::chrono::steady_clock::now(), scheduled);
}

void Simulator::DoReplug() {
    line_ = std::make_unique<PtyLine>();
    slavePath_ = line_->SlavePath();
    if (link_) {
        link_->PointTo(slavePath_);
    }
    plugClock_.Plugged(std::chrono::steady_clock::now());
    if (plugging_.onReplug) {
        plugging_.onReplug(slavePath_);
    }
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
        case Behaviour::Mode::kReplay:
            player_->OnInput(std::string(reinterpret_cast<const char*>(data), count),
                             std::chrono::steady_clock::now());
            break;
    }
}

std::optional<std::chrono::steady_clock::time_point> Simulator::NextReplay() {
    if (!player_)
        return std::nullopt;
    for (std::string& block : player_->TakeDue(std::chrono::steady_clock::now())) out_ += block;
    return player_->Due();
}

// Writes what waits; false when the master would block.
bool Simulator::Flush() {
    // Written bytes are only counted off until everything is out: erasing
    // them at each short write would move the rest every time.
    while (outAt_ < out_.size()) {
        const ssize_t n = ::write(MasterFd(), out_.data() + outAt_, out_.size() - outAt_);
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

int Simulator::NextChunk() {
    // A stream is cut into chunks; with a rate, each chunk waits its turn.
    if (!out_.empty() || streamLeft_ == 0) {
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (behaviour_.bytesPerSecond != 0 && now < nextSend_) {
        return MillisecondsUntil(nextSend_);
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
        streamLeft_, behaviour_.bytesPerSecond == 0
                         ? kChunk
                         : std::max<std::uint64_t>(1, behaviour_.bytesPerSecond / 100)));
    out_.resize(n);
    std::uint8_t next = StreamByte(streamNext_);
    for (std::size_t i = 0; i < n; ++i) {
        out_[i] = static_cast<char>(next);
        next = next == 250 ? 0 : next + 1;  // StreamByte, counted on
    }
    streamNext_ += n;
    streamLeft_ -= n;
    if (behaviour_.bytesPerSecond != 0) {
        nextSend_ = std::max(nextSend_, now - std::chrono::milliseconds(100)) +
                    std::chrono::microseconds(n * 1000000 / behaviour_.bytesPerSecond);
    }
    return -1;
}

void Simulator::Run() {
    nextSend_ = std::chrono::steady_clock::now();
    std::uint8_t buffer[4096];
    for (;;) {
        if (const auto due = plugClock_.Due(); due && std::chrono::steady_clock::now() >= *due) {
            if (line_) {
                DoUnplug(true);
            } else {
                DoReplug();
            }
            continue;
        }
        int timeoutMs = -1;
        std::optional<std::chrono::steady_clock::time_point> replayDue;
        if (line_) {
            replayDue = NextReplay();
            timeoutMs = NextChunk();
            const bool blocked = !Flush();
            if (!out_.empty() && !blocked) {
                continue;
            }
            if (out_.empty() && streamLeft_ > 0 && timeoutMs < 0) {
                continue;  // next chunk at once
            }
        }
        if (const auto due = plugClock_.Due()) {
            timeoutMs = Sooner(timeoutMs, MillisecondsUntil(*due));
        }
        // While unplugged, the first entry has fd -1, which poll skips.
        pollfd fds[2] = {{MasterFd(), static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0},
                         {requests_[0], POLLIN, 0}};
        // A replay's blocks keep their gaps to the microsecond, not the millisecond.
        std::optional<std::chrono::nanoseconds> wait;
        if (timeoutMs >= 0)
            wait = std::chrono::milliseconds(timeoutMs);
        if (replayDue) {
            const auto left = std::max<std::chrono::nanoseconds>(
                std::chrono::nanoseconds(0), *replayDue - std::chrono::steady_clock::now());
            wait = wait ? std::min(*wait, left) : left;
        }
        timespec waitSpec{};
        if (wait) {
            waitSpec.tv_sec = static_cast<time_t>(wait->count() / 1000000000);
            waitSpec.tv_nsec = static_cast<long>(wait->count() % 1000000000);
        }
        if (ppoll(fds, 2, wait ? &waitSpec : nullptr, nullptr) < 0 && errno != EINTR) {
            Throw("ppoll");
        }
        if ((fds[0].revents & POLLIN) != 0) {
            for (;;) {
                const ssize_t n = ::read(MasterFd(), buffer, sizeof buffer);
                if (n > 0) {
                    OnInput(buffer, static_cast<std::size_t>(n));
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else {
                    break;
                }
            }
        }
        if ((fds[1].revents & POLLIN) != 0 && !TakeRequests()) {
            return;
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
