#include "transfer/fd_line.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

#include "transfer/transfer_error.h"

namespace tarvik::transfer {

namespace {

[[noreturn]] void LineFailed(const char* what) {
    throw ETransfer(TransferCode::kLine, std::string("The line failed (") + what + ": " +
                                             std::strerror(errno) + ")");
}

timespec Until(Clock::time_point deadline) {
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

FdLine::FdLine(int in, int out)
    : in_(in), out_(out), interrupt_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (interrupt_ < 0)
        LineFailed("eventfd");
}

FdLine::~FdLine() { close(interrupt_); }

void FdLine::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(out_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd room{out_, POLLOUT, 0};
            if (poll(&room, 1, -1) < 0 && errno != EINTR)
                LineFailed("poll");
        } else if (n < 0 && errno == EIO) {
            throw ETransfer(TransferCode::kLine, "The line was lost (hung up)");
        } else if (n < 0 && errno != EINTR) {
            LineFailed("write");
        }
    }
}

std::size_t FdLine::Read(std::string& into, std::size_t max, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{in_, POLLIN, 0}, {interrupt_, POLLIN, 0}};
        const timespec left = Until(deadline);
        const int ready = ppoll(fds, 2, &left, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            LineFailed("poll");
        }
        if (ready == 0 || (fds[1].revents & POLLIN))
            return 0;
        const std::size_t before = into.size();
        into.resize(before + max);
        const ssize_t n = read(in_, into.data() + before, max);
        into.resize(before + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n > 0)
            return static_cast<std::size_t>(n);
        // A pty whose far side went reads as its end, or fails with EIO.
        if (n == 0 || (errno == EIO && (fds[0].revents & POLLHUP)))
            throw ETransfer(TransferCode::kLine, "The line was lost (hung up)");
        if (errno != EAGAIN && errno != EINTR)
            LineFailed("read");
    }
}

void FdLine::Interrupt() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(interrupt_, &one, sizeof one);
}

void FdLine::ClearInterrupt() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = read(interrupt_, &value, sizeof value);
}

}  // namespace tarvik::transfer
