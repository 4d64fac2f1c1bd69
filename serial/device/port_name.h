#pragma once
// Where a port name leads on Linux. Pure, any thread.

#include <string>

namespace cport::device {

// "COMn" (n from 1, any letter case) -> /dev/ttyS<n-1>; a name without "/"
// -> /dev/<name>; anything with "/" is a path and stays as it is. A leading
// "\\.\" (the form Windows programs put before a port name) is dropped first.
std::string DevicePath(const std::string& portName);

}  // namespace cport::device
