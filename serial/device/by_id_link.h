#pragma once
// The stable name udev gives a serial device under /dev/serial/by-id/: the
// same for the same adapter whatever ttyUSBn it gets when plugged in again.
// Any thread.

#include <string>

namespace cport::device {

inline constexpr const char* kSerialByIdFolder = "/dev/serial/by-id";

// The link in `folder` that leads to the same node as `devicePath` (which may
// itself be a link); empty when there is none (no udev, no such folder, a
// pseudo-terminal).
std::string ByIdLinkOf(const std::string& devicePath,
                       const std::string& folder = kSerialByIdFolder);

}  // namespace cport::device
