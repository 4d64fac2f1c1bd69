#pragma once
// The arrival times of the bytes in the device's input queue: one mark per
// driver read that filled it, so a read that takes bytes of several wake-ups
// knows the time of its first and of its last byte. Bytes leave in the order
// they came (the queue is a ring), so the marks are a queue of their own.
// Used under the device's lock.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "serial/device/time_line.h"

namespace cport::device {

class ArrivalMarks {
  public:
    // `count` bytes joined the queue, taken from the driver at `time`; none
    // of them came before `earliest` (when the driver was last seen empty).
    void Pushed(std::size_t count, const LineTime& time, const LineTime& earliest = {});
    // The next `count` bytes left the queue: the arrival times of the first
    // and the last of them, and the earliest the first may have come (zero
    // times for count 0).
    void Popped(std::size_t count, LineTime* first, LineTime* last, LineTime* earliest = nullptr);
    void Clear();

  private:
    struct Mark {
        std::uint64_t end;  // bytes pushed in total up to the mark's last byte
        LineTime time;
        LineTime earliest;
    };
    // The mark holding byte number `index` (counted over all bytes pushed).
    const Mark* MarkOf(std::uint64_t index) const;

    std::deque<Mark> marks_;
    std::uint64_t pushed_ = 0;
    std::uint64_t popped_ = 0;
};

}  // namespace cport::device
