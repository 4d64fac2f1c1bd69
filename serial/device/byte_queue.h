#pragma once
// The device layer's input queue: a ring of bytes with a capacity set by
// SetupComm. Used under the device's lock.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cport::device {

class ByteQueue {
  public:
    explicit ByteQueue(std::size_t capacity) : ring_(capacity) {}

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return ring_.size(); }
    std::size_t Free() const { return ring_.size() - size_; }
    // A queue holding more than a new capacity keeps every byte: the ring
    // grows to what it holds, nothing is dropped.
    void SetCapacity(std::size_t capacity);
    void Clear() { head_ = size_ = 0; }

    // The free space as up to two pieces, for readv; then Commit what was read.
    int FreeSpans(iovec spans[2]);
    void Commit(std::size_t count) { size_ += count; }
    void Push(const std::uint8_t* data, std::size_t count);  // count <= Free()
    std::size_t Pop(std::uint8_t* out, std::size_t count);
    // Whether `byte` is among the newest `count` bytes.
    bool TailContains(std::size_t count, std::uint8_t byte) const;

  private:
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace cport::device
