#include "capture/capture_sink.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

namespace tarvik::capture {

namespace {

// A SIGXFSZ the failed write raised is held pending for this thread: take
// it away, so it does not end the program once the thread unblocks it.
void DropPendingFileSizeSignal() {
    sigset_t xfsz;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    const timespec now{0, 0};
    while (::sigtimedwait(&xfsz, nullptr, &now) == SIGXFSZ) {
    }
}

}  // namespace

CaptureSink::CaptureSink(const std::string& path) {
    // O_NONBLOCK: open() must not wait for a FIFO's reader or a modem's
    // carrier.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                 0666);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "Cannot create file " + path);
    struct stat st {};
    ::fstat(fd_, &st);
    regular_ = S_ISREG(st.st_mode);
    // A FIFO or a device stays non-blocking: Write waits for it in poll,
    // where Cancel can reach the wait.
    cancel_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancel_ < 0) {
        const int error = errno;
        ::close(fd_);
        throw std::system_error(error, std::generic_category(), "Cannot create file " + path);
    }
}

void CaptureSink::Cancel() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(cancel_, &one, sizeof one);
}

CaptureSink::~CaptureSink() {
    ::close(cancel_);
    ::close(fd_);
}

int CaptureSink::CutBack(std::uint64_t size) {
    if (!regular_ || size >= written_)
        return 0;
    // Shrinking needs no room, so it works on a full disk and past the limit.
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR)
            return errno;
    }
    written_ = size;
    return 0;
}

int CaptureSink::Write(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == EAGAIN) {
                pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancel_, POLLIN, 0}};
                std::uint64_t cancelled = 0;
                const bool ending = ::read(cancel_, &cancelled, sizeof cancelled) > 0 || cancelled_;
                cancelled_ = ending;
                const int ready = ::poll(fds, ending ? 1 : 2, ending ? kGiveUpMs : -1);
                if (ready == 0)
                    return ETIMEDOUT;
                continue;
            }
            if (error == EFBIG)
                DropPendingFileSizeSignal();
            return error;
        }
        written_ += static_cast<std::uint64_t>(n);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    // Writing into a removed file succeeds and fills nothing anyone can read.
    struct stat st {};
    if (regular_ && ::fstat(fd_, &st) == 0 && st.st_nlink == 0)
        return ENOENT;
    return 0;
}

}  // namespace tarvik::capture
