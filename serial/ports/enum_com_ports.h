#pragma once
// The serial ports the system has, as names a port object opens.
//
// On Linux the source is the tty class in sysfs: an entry backed by a real
// device (it has a `device` link) is a port, unless it is a serial-core port
// whose UART type is 0 (no UART behind it: the kernel keeps such ttyS
// placeholders for every possible legacy port). Pseudo-terminals and virtual
// consoles have no device and are never listed. The name is the entry's name
// ("ttyUSB0", "ttyACM0", "ttyS0"); a kernel name holding "/" appears in sysfs
// with "!" and is given back with "/" again.
//
// Stateless; any thread (the program calls it on the main thread).

#include <string>
#include <vector>

#include "base/text.h"

namespace cport {

inline constexpr const char* kSysClassTty = "/sys/class/tty";

// Replaces `ports` with the names of the system's serial ports, sorted as
// SortPortNames sorts. When the source cannot be read, raises
// EComPort(ecRegistry, errno) and leaves `ports` as it was.
void EnumComPorts(std::vector<tarvik::Text>& ports);

// The same over another directory laid out like /sys/class/tty (tests build
// one in a temporary directory).
void EnumComPorts(std::vector<tarvik::Text>& ports, const std::string& ttyClassDir);

// Sorts names in text order by the user's collation with letter case ignored
// ("COM10" before "COM2", "com3" between "COM2" and "COM4"). Names that
// differ only in case are ordered by their bytes, so the result is stable
// from run to run. Names are 8-bit texts read as Latin-1.
void SortPortNames(std::vector<tarvik::Text>& names);

}  // namespace cport
