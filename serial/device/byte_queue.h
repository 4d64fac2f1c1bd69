#pragma once
// The device layer's input queue: a ring of bytes filled up to a size set by
// SetupComm. The size says when to stop taking from the driver, not how much
// one driver read may bring: below it the queue takes a whole read (the tty
// hands out up to 4095 bytes at once), so it may hold up to one read more.
// Used under the device's lock.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cport::device {

class ByteQueue {
  public:
    // Room for one driver read beyond the size.
    static constexpr std::size_t kOneRead = 4096;

    explicit ByteQueue(std::size_t capacity) : ring_(capacity + kOneRead), limit_(capacity) {}

    std::size_t Size() const { return size_; }
    // The size SetupComm gave.
    std::size_t Capacity() const { return limit_; }
    // What the next driver read may bring: 0 once the size is reached.
    std::size_t Free() const { return size_ < limit_ ? ring_.size() - size_ : 0; }
    // A queue holding more than a new size keeps every byte: nothing is
    // dropped, it only takes nothing more until it is read below the size.
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
    std::size_t limit_;
};

}  // namespace cport::device
