#pragma once
// Who a port is: what the system knows of the device behind a port name, read
// from sysfs, the udev database and the device node, never guessed. A fact
// that cannot be read stays empty (or -1); a half-present sysfs entry gives
// what is there. Qt-free and stateless; any thread (it reads files only).

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace cport {

// Where the facts come from. The defaults are the system's own; tests point
// them at a tree of their own. The udev database is asked only about the real
// sysfs (libudev refuses any other tree).
struct PortInfoSources {
    std::string ttyClassDir = "/sys/class/tty";
    std::string devDir = "/dev";
    std::string byIdDir = "/dev/serial/by-id";
    // The kernel's consoles: console= on its command line, the console's
    // active ttys (ttyClassDir + "/console/active" when empty), /proc/consoles.
    std::string kernelCommandLine = "/proc/cmdline";
    std::string consoleActive;
    std::string procConsoles = "/proc/consoles";
};

// May this process open a device node, and why (not).
struct NodeAccess {
    bool exists = false;
    mode_t mode = 0;  // the permission bits (0..07777)
    uid_t owner = 0;
    gid_t group = 0;
    std::string ownerName;  // "" when the user database does not know it
    std::string groupName;  // e.g. "dialout"
    // The process has the node's group now (primary or supplementary).
    bool inGroup = false;
    // The user is a member of the group in the group database; true with
    // inGroup false means: added, but not yet logged in again.
    bool listedInGroup = false;
    // Read and write allowed by owner, group and mode (root always may).
    bool mayOpen = false;
};

struct PortInfo {
    std::string name;        // as asked, e.g. "ttyUSB0", "COM1", "/dev/ttyACM0"
    std::string devicePath;  // the node the name leads to, links resolved
    std::string sysName;     // the kernel's name, e.g. "ttyUSB0"
    bool inSysfs = false;    // the tty class has an entry (a pty has none)
    std::string driver;      // e.g. "ftdi_sio", "cdc_acm", "serial"
    int vendorId = -1;       // USB ids, -1 when not a USB device
    int productId = -1;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string byIdPath;    // e.g. "/dev/serial/by-id/usb-FTDI_...-port0"; "" when none
    bool isConsole = false;  // the kernel writes its console to this port
    NodeAccess access;
    // A port on the network: "RFC 2217 server at HOST:PORT" or "raw TCP to
    // HOST:PORT"; nothing else is read for it. Empty for a device.
    std::string network;
};

PortInfo DescribePort(const std::string& portName, const PortInfoSources& sources = {});

// The node's access for this process (stat, the group database, the
// process's groups).
NodeAccess ReadNodeAccess(const std::string& path);
// The same from given facts: the node's stat data, the process's user and
// groups, and whether the user is listed in the node's group. Pure.
NodeAccess JudgeNodeAccess(const struct stat& node, uid_t user,
                           const std::vector<gid_t>& processGroups, bool listedInGroup);

// The user database's name of a user; "" when it has none.
std::string UserName(uid_t user);

// The kernel's console ttys ("ttyS0", "tty0", ...), each once.
std::vector<std::string> KernelConsoles(const PortInfoSources& sources = {});

// The node a port name leads to under sources.devDir ("COM1" -> ttyS0, a
// bare name under devDir, a path as it stands), before links are resolved.
std::string PortNodePath(const std::string& portName, const PortInfoSources& sources = {});

}  // namespace cport
