#pragma once
// A timed capture read from its file. Any thread.

#include <string>
#include <vector>

#include "capture/capture_record.h"

namespace tarvik::capture {

// The records of the timed capture at `path`. Throws std::system_error
// ("Cannot open PATH: ...") when it cannot be read, and std::runtime_error
// ("PATH: line N: ...") where it is not a timed capture.
std::vector<CaptureRecord> LoadCapture(const std::string& path);

}  // namespace tarvik::capture
