#include "serial/device/posix_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace cport::device {

namespace {

// Descriptors of closed events, counter 0, kept for the next event that is
// polled: a port's transfers that have to wait come and go at a high rate.
class FdPool {
  public:
    int Take() {
        {
            std::lock_guard lock(mutex_);
            if (!fds_.empty()) {
                const int fd = fds_.back();
                fds_.pop_back();
                return fd;
            }
        }
        return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    void Give(int fd) {
        {
            std::lock_guard lock(mutex_);
            if (fds_.size() < kKept) {
                fds_.push_back(fd);
                return;
            }
        }
        ::close(fd);
    }

  private:
    static constexpr std::size_t kKept = 16;
    std::mutex mutex_;
    std::vector<int> fds_;
};

FdPool& Pool() {
    // Never destroyed: events may be closed by static destructors.
    static FdPool* pool = new FdPool;
    return *pool;
}

void Signal(int fd) {
    const std::uint64_t one = 1;
    // Cannot fail: the counter is 0 here and the descriptor is ours.
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
    std::uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(fd, &value, sizeof value);
}

}  // namespace

PosixEvent::~PosixEvent() {
    if (fd_ < 0)
        return;
    if (fdSignalled_)
        Drain(fd_);
    Pool().Give(fd_);
}

void PosixEvent::Set() {
    std::lock_guard lock(mutex_);
    if (set_.load(std::memory_order_relaxed))
        return;
    set_.store(true, std::memory_order_release);
    // Only a thread blocked in poll needs the descriptor to say so.
    if (pollers_ > 0 && !fdSignalled_) {
        Signal(fd_);
        fdSignalled_ = true;
    }
}

void PosixEvent::Reset() {
    std::lock_guard lock(mutex_);
    if (!set_.load(std::memory_order_relaxed))
        return;
    set_.store(false, std::memory_order_release);
    if (fdSignalled_) {
        Drain(fd_);
        fdSignalled_ = false;
    }
}

int PosixEvent::BeginPoll() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        fd_ = Pool().Take();
        if (fd_ < 0)
            return -1;
    }
    ++pollers_;
    return fd_;
}

void PosixEvent::EndPoll() {
    std::lock_guard lock(mutex_);
    --pollers_;
}

void PosixEvent::Bind(const std::shared_ptr<PosixPort>& port) {
    std::lock_guard lock(mutex_);
    bound_ = port;
}

void PosixEvent::Unbind() {
    std::lock_guard lock(mutex_);
    bound_.reset();
}

std::shared_ptr<PosixPort> PosixEvent::Bound() {
    std::lock_guard lock(mutex_);
    return bound_.lock();
}

}  // namespace cport::device
