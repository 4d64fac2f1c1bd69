#pragma once
// What a port waits for after its line was lost, so that it opens again only
// the device it had and never another that happens to get the old name: a
// new pseudo-terminal takes the lowest free number, a second adapter the
// first free ttyUSBn. Taken when the port opens; judged on each change in
// the watched folder. Qt-free; any thread (it reads files only).

#include <sys/types.h>

#include <ctime>
#include <string>

#include "serial/ports/port_info.h"

namespace cport {

struct AwaitedDevice {
    enum class Kind {
        kById,   // its /dev/serial/by-id/ name, which names vendor, product and serial
        kUsb,    // a node at the path with the same USB vendor, product (and serial number)
        kLink,   // a link (a simulator's, socat's link=): that link made again
        kNode,   // a node with no other identity: the same device number at the path
        kNever,  // a pseudo-terminal by its own name: it never comes back
        kPath,   // nothing to tell it by (no node when the port opened): what opens at the path
    };
    Kind kind = Kind::kPath;
    std::string path;  // watched, and opened once the device is back
    // kUsb
    int vendorId = -1;
    int productId = -1;
    std::string serialNumber;
    // kLink: the link as it stood when the port last opened through it
    ino_t linkInode = 0;
    dev_t linkDevice = 0;
    timespec linkChanged{};
    // kNode
    dev_t node = 0;
};

// The device behind `portName` as the port opens it.
AwaitedDevice AwaitDevice(const std::string& portName, const PortInfoSources& sources = {});

// Whether the device at `awaited.path` now is the one awaited.
bool HasReturned(const AwaitedDevice& awaited, const PortInfoSources& sources = {});

// After opening through a link made again: that link is the one awaited
// after the next loss.
void NoteReopened(AwaitedDevice& awaited);

// What the port waits for, for the log: "waiting for the link /tmp/dev to be
// made again".
std::string DescribeAwaited(const AwaitedDevice& awaited);

}  // namespace cport
