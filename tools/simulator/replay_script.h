#pragma once
// What a replay plays: the received blocks of a timed capture
// (docs/capture-format.md), each with the bytes the capture sent before it
// and its recorded gaps. Plain data; built once before the simulator runs.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::sim {

struct ReplayBlock {
    std::string bytes;    // what the device sends
    std::string request;  // what was sent since the block before it ("": nothing)
    // Microseconds from the block before it (0 for the first), and from the
    // last byte of its request (0 without one), as recorded.
    std::int64_t sincePreviousUs = 0;
    std::int64_t sinceRequestUs = 0;
};

// The blocks of the timed capture at `path` (at most
// capture::kMaxLoadedCaptureBytes). Throws std::runtime_error naming the file
// and the line where it breaks, or saying it holds no received block. A last
// line cut short (a full disk) is left out and told in `warning`.
std::vector<ReplayBlock> LoadReplay(const std::string& path, std::string* warning = nullptr);

}  // namespace tarvik::sim
