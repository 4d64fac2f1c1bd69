#include "serial/ports/awaited_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>

#include "serial/device/by_id_link.h"

namespace cport {

namespace {

// Unix98 pseudo-terminal slaves (136-143) and the old BSD ones (3).
bool IsPseudoTerminal(dev_t node) {
    const unsigned m = major(node);
    return (m >= 136 && m <= 143) || m == 3;
}

std::string UsbIds(int vendorId, int productId) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId & 0xffff, productId & 0xffff);
    return ids;
}

}  // namespace

AwaitedDevice AwaitDevice(const std::string& portName, const PortInfoSources& sources) {
    AwaitedDevice awaited;
    awaited.path = PortNodePath(portName, sources);
    // Taken now: once the device is gone, its links are gone too.
    if (const std::string byId = device::ByIdLinkOf(awaited.path, sources.byIdDir); !byId.empty()) {
        awaited.kind = AwaitedDevice::Kind::kById;
        awaited.path = byId;
        return awaited;
    }
    const PortInfo info = DescribePort(awaited.path, sources);
    if (info.vendorId >= 0 && info.productId >= 0) {
        awaited.kind = AwaitedDevice::Kind::kUsb;
        awaited.vendorId = info.vendorId;
        awaited.productId = info.productId;
        awaited.serialNumber = info.serialNumber;
        return awaited;
    }
    struct stat st;
    if (lstat(awaited.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        awaited.kind = AwaitedDevice::Kind::kLink;
        NoteReopened(awaited);
        return awaited;
    }
    if (stat(awaited.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        awaited.node = st.st_rdev;
        awaited.kind =
            IsPseudoTerminal(st.st_rdev) ? AwaitedDevice::Kind::kNever : AwaitedDevice::Kind::kNode;
    }
    return awaited;
}

bool HasReturned(const AwaitedDevice& awaited, const PortInfoSources& sources) {
    struct stat st;
    switch (awaited.kind) {
        case AwaitedDevice::Kind::kById:
            return stat(awaited.path.c_str(), &st) == 0;
        case AwaitedDevice::Kind::kUsb: {
            if (stat(awaited.path.c_str(), &st) != 0)
                return false;
            const PortInfo info = DescribePort(awaited.path, sources);
            return info.vendorId == awaited.vendorId && info.productId == awaited.productId &&
                   info.serialNumber == awaited.serialNumber;
        }
        case AwaitedDevice::Kind::kLink:
            // The same link still leads to wherever the lost device was,
            // which a new device may have taken; only its maker renews it.
            if (lstat(awaited.path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
                return false;
            return st.st_ino != awaited.linkInode || st.st_dev != awaited.linkDevice ||
                   st.st_ctim.tv_sec != awaited.linkChanged.tv_sec ||
                   st.st_ctim.tv_nsec != awaited.linkChanged.tv_nsec;
        case AwaitedDevice::Kind::kNode:
            return stat(awaited.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                   st.st_rdev == awaited.node;
        case AwaitedDevice::Kind::kNever:
            return false;
        case AwaitedDevice::Kind::kPath:
            return true;
    }
    return false;
}

void NoteReopened(AwaitedDevice& awaited) {
    struct stat st;
    if (awaited.kind != AwaitedDevice::Kind::kLink || lstat(awaited.path.c_str(), &st) != 0)
        return;
    awaited.linkInode = st.st_ino;
    awaited.linkDevice = st.st_dev;
    awaited.linkChanged = st.st_ctim;
}

std::string DescribeAwaited(const AwaitedDevice& awaited) {
    switch (awaited.kind) {
        case AwaitedDevice::Kind::kById:
            return "waiting for " + awaited.path + " to return";
        case AwaitedDevice::Kind::kUsb:
            return "waiting for USB device " + UsbIds(awaited.vendorId, awaited.productId) +
                   (awaited.serialNumber.empty() ? std::string()
                                                 : " serial " + awaited.serialNumber) +
                   " at " + awaited.path;
        case AwaitedDevice::Kind::kLink:
            return "waiting for the link " + awaited.path + " to be made again";
        case AwaitedDevice::Kind::kNode:
            return "waiting for device " + std::to_string(major(awaited.node)) + "," +
                   std::to_string(minor(awaited.node)) + " at " + awaited.path;
        case AwaitedDevice::Kind::kNever:
            return "not waiting: the pseudo-terminal " + awaited.path +
                   " does not come back, a new one is another device (open a link that its "
                   "far end makes again, such as tarvik-sim --link or socat's link=)";
        case AwaitedDevice::Kind::kPath:
            return "waiting for " + awaited.path + " to return";
    }
    return {};
}

}  // namespace cport
