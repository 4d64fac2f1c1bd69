#pragma once
// Received-byte handling that termios does not offer: replacing bytes the
// kernel marked as bad (PARMRK: 0xFF 0x00 c, with a real 0xFF doubled) and
// discarding NUL bytes. Keeps the state of a mark cut between two reads.
// One instance per device, used under the device's lock.

#include <cstddef>
#include <cstdint>

#include "serial/device/line_plan.h"

namespace cport::device {

class InputFilter {
  public:
    void SetRules(const InputRules& rules);
    // Whether Apply can change anything (otherwise the caller may skip it).
    bool Active() const { return rules_.parityMarks || rules_.discardNull; }
    // Filters data[0..count) in place and returns the new count.
    std::size_t Apply(std::uint8_t* data, std::size_t count);
    // Forget a partial mark (after the input queue was emptied).
    void Reset() { state_ = State::kPlain; }

  private:
    enum class State { kPlain, kAfterFF, kAfterFF00 };
    InputRules rules_;
    State state_ = State::kPlain;
};

}  // namespace cport::device
