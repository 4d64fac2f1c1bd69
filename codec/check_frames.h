#pragma once
// Where a check value holds in received bytes: which beginnings of them are
// whole frames (bytes, then the value over them), and how a run of bytes
// splits into such frames. What framing by time uses where timing cannot
// tell: bytes of two frames taken in one read, a frame that stalled midway.
// Plain functions; any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/check_value.h"

namespace fun {

// The lengths of the beginnings of `bytes` that end in the check value over
// the bytes before it (at least one), shortest first; an NMEA sentence's
// closing CR and LF may follow its value. One pass over the bytes.
std::vector<std::size_t> FrameLengths(const TCheckValue& check, std::span<const std::uint8_t> bytes);

// Whether the bytes are one such frame.
bool IsFrame(const TCheckValue& check, std::span<const std::uint8_t> bytes);

// The fewest frames that the bytes are, one after another, as their lengths
// (where two ways need as many, the one whose frames end later); empty when
// the bytes are no run of frames. Bytes longer than kMaxSplitBytes are not
// tried (empty).
inline constexpr std::size_t kMaxSplitBytes = 1024;
// The same for the longest beginning of the bytes that is a run of frames
// (a frame cut short may follow it); empty when none is.
std::vector<std::size_t> LeadingFrames(const TCheckValue& check,
                                       std::span<const std::uint8_t> bytes);
std::vector<std::size_t> SplitIntoFrames(const TCheckValue& check,
                                         std::span<const std::uint8_t> bytes);

}  // namespace fun
