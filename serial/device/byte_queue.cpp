#include "serial/device/byte_queue.h"

#include <algorithm>
#include <cstring>

namespace cport::device {

void ByteQueue::SetCapacity(std::size_t capacity) {
    limit_ = capacity;
    capacity = std::max(capacity + kOneRead, size_);
    if (capacity == ring_.size()) {
        return;
    }
    std::vector<std::uint8_t> bigger(capacity);
    const std::size_t n = size_;
    Pop(bigger.data(), n);
    ring_.swap(bigger);
    head_ = 0;
    size_ = n;
}

int ByteQueue::FreeSpans(iovec spans[2]) {
    const std::size_t cap = ring_.size();
    if (size_ == cap) {
        return 0;
    }
    const std::size_t tail = (head_ + size_) % cap;
    if (tail >= head_) {
        spans[0] = {ring_.data() + tail, cap - tail};
        if (head_ == 0) {
            return 1;
        }
        spans[1] = {ring_.data(), head_};
        return 2;
    }
    spans[0] = {ring_.data() + tail, head_ - tail};
    return 1;
}

void ByteQueue::Push(const std::uint8_t* data, std::size_t count) {
    iovec spans[2];
    const int n = FreeSpans(spans);
    for (int i = 0; i < n && count > 0; ++i) {
        const std::size_t part = std::min(count, spans[i].iov_len);
        std::memcpy(spans[i].iov_base, data, part);
        data += part;
        count -= part;
        size_ += part;
    }
}

std::size_t ByteQueue::Pop(std::uint8_t* out, std::size_t count) {
    count = std::min(count, size_);
    if (count == 0) {
        return 0;
    }
    const std::size_t cap = ring_.size();
    const std::size_t first = std::min(count, cap - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), count - first);
    head_ = cap == 0 ? 0 : (head_ + count) % cap;
    size_ -= count;
    if (size_ == 0) {
        head_ = 0;
    }
    return count;
}

bool ByteQueue::TailContains(std::size_t count, std::uint8_t byte) const {
    count = std::min(count, size_);
    const std::size_t cap = ring_.size();
    for (std::size_t i = size_ - count; i < size_; ++i) {
        if (ring_[(head_ + i) % cap] == byte) {
            return true;
        }
    }
    return false;
}

}  // namespace cport::device
