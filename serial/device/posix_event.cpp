#include "serial/device/posix_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace cport::device {

std::shared_ptr<PosixEvent> PosixEvent::Create(bool initialState) {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto event = std::make_shared<PosixEvent>(fd);
    if (initialState) {
        event->Set();
    }
    return event;
}

PosixEvent::~PosixEvent() {
    ::close(fd_);
}

void PosixEvent::Set() {
    std::lock_guard lock(mutex_);
    if (set_.load(std::memory_order_relaxed)) {
        return;
    }
    const std::uint64_t one = 1;
    // Cannot fail: the counter is 0 here and the descriptor is ours.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    set_.store(true, std::memory_order_release);
}

void PosixEvent::Reset() {
    std::lock_guard lock(mutex_);
    if (!set_.load(std::memory_order_relaxed)) {
        return;
    }
    std::uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof value);
    set_.store(false, std::memory_order_release);
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
