#include "serial/ports/port_info.h"

#include <dirent.h>
#include <grp.h>
#include <libudev.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "serial/device/net/net_address.h"
#include "serial/device/port_name.h"

namespace cport {

namespace {

constexpr const char* kRealTtyClass = "/sys/class/tty";
// How far up the device tree a USB device or a driver is looked for: a tty
// of a USB adapter sits three or four levels below its USB device.
constexpr int kMostLevelsUp = 8;

std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The first line of a small attribute file, without its line end; "" when
// it cannot be read.
std::string Attribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return {};
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

int HexId(const std::string& text) {
    if (text.empty() || text.size() > 4) {
        return -1;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    return *end == '\0' ? static_cast<int>(value) : -1;
}

// Stops at the top of a device tree (real or a test's).
bool AtTreeTop(const std::string& dir) {
    return dir == "/" || BaseName(dir) == "devices" || dir.empty();
}

// The driver of the port: that of the nearest device up the tree that has
// one, passing over the serial core's own "port" and "ctrl" devices, which
// stand for every UART alike.
std::string DriverOf(std::string dir) {
    for (int level = 0; level < kMostLevelsUp && !AtTreeTop(dir); ++level, dir = Parent(dir)) {
        const std::string driver = Resolved(dir + "/driver");
        if (driver.empty()) {
            continue;
        }
        if (BaseName(Resolved(dir + "/subsystem")) == "serial-base") {
            continue;
        }
        return BaseName(driver);
    }
    return {};
}

void ReadUsbDevice(std::string dir, PortInfo& info) {
    for (int level = 0; level < kMostLevelsUp && !AtTreeTop(dir); ++level, dir = Parent(dir)) {
        if (!Exists(dir + "/idVendor")) {
            continue;
        }
        info.vendorId = HexId(Attribute(dir + "/idVendor"));
        info.productId = HexId(Attribute(dir + "/idProduct"));
        info.manufacturer = Attribute(dir + "/manufacturer");
        info.product = Attribute(dir + "/product");
        info.serialNumber = Attribute(dir + "/serial");
        return;
    }
}

std::string ByIdLink(const std::string& byIdDir, const std::string& devicePath) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(byIdDir.c_str()), closedir);
    if (!dir || devicePath.empty()) {
        return {};
    }
    std::vector<std::string> links;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string path = byIdDir + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && Resolved(path) == devicePath) {
            links.push_back(path);
        }
    }
    // Several links (an interface and a port name) : the same choice every run.
    std::sort(links.begin(), links.end());
    return links.empty() ? std::string() : links.front();
}

// udev's escaped texts ("FTDI\x20Ltd") decoded.
std::string UdevText(const char* value) {
    std::string out;
    for (const char* p = value; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] == 'x' && std::isxdigit(static_cast<unsigned char>(p[2])) &&
            std::isxdigit(static_cast<unsigned char>(p[3]))) {
            out += static_cast<char>(std::strtol(std::string(p + 2, 2).c_str(), nullptr, 16));
            p += 3;
        } else {
            out += *p;
        }
    }
    return out;
}

// What the udev database adds where sysfs left a gap (where udevd runs, it
// knows the by-id link even before anyone looks at /dev/serial).
void AddUdevFacts(const std::string& sysName, PortInfo& info) {
    std::unique_ptr<udev, udev* (*)(udev*)> context(udev_new(), udev_unref);
    if (!context) {
        return;
    }
    std::unique_ptr<udev_device, udev_device* (*)(udev_device*)> device(
        udev_device_new_from_subsystem_sysname(context.get(), "tty", sysName.c_str()),
        udev_device_unref);
    if (!device) {
        return;
    }
    const auto property = [&](const char* key) -> std::string {
        const char* value = udev_device_get_property_value(device.get(), key);
        return value != nullptr ? UdevText(value) : std::string();
    };
    const auto fill = [](std::string& field, const std::string& value) {
        if (field.empty()) {
            field = value;
        }
    };
    if (info.vendorId < 0) {
        info.vendorId = HexId(property("ID_VENDOR_ID"));
        info.productId = HexId(property("ID_MODEL_ID"));
    }
    fill(info.manufacturer, property("ID_VENDOR_ENC"));
    fill(info.product, property("ID_MODEL_ENC"));
    fill(info.serialNumber, property("ID_SERIAL_SHORT"));
    fill(info.driver, property("ID_USB_DRIVER"));
    if (info.byIdPath.empty()) {
        std::istringstream links(property("DEVLINKS"));
        std::string link;
        while (links >> link) {
            if (link.rfind("/dev/serial/by-id/", 0) == 0) {
                info.byIdPath = link;
                break;
            }
        }
    }
}

std::vector<gid_t> ProcessGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, getgroups(0, nullptr))));
    const int n = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(0, n)));
    groups.push_back(getegid());
    return groups;
}

// The re-entrant lookups: the plain ones share one buffer between threads.
constexpr std::size_t kLookupBuffer = 16384;

bool LookUpUser(uid_t user, passwd* entry, std::vector<char>& buffer) {
    passwd* found = nullptr;
    buffer.resize(kLookupBuffer);
    return getpwuid_r(user, entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
}

std::string GroupName(gid_t id) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(kLookupBuffer);
    return getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
               ? std::string(entry.gr_name)
               : std::string();
}

// The user's groups in the group database (what the next login gives).
bool ListedInGroup(uid_t user, gid_t group) {
    passwd entry{};
    std::vector<char> buffer;
    if (!LookUpUser(user, &entry, buffer)) {
        return false;
    }
    const passwd* pw = &entry;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

void AddConsoleName(std::vector<std::string>& names, std::string name) {
    if (name.rfind("/dev/", 0) == 0) {
        name.erase(0, 5);
    }
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(std::move(name));
    }
}

}  // namespace

std::string PortNodePath(const std::string& portName, const PortInfoSources& sources) {
    std::string path = device::DevicePath(portName);
    if (portName.find('/') == std::string::npos && sources.devDir != "/dev") {
        path = sources.devDir + path.substr(4);
    }
    return path;
}

std::vector<std::string> KernelConsoles(const PortInfoSources& sources) {
    std::vector<std::string> names;
    std::istringstream cmdline(Attribute(sources.kernelCommandLine));
    std::string word;
    while (cmdline >> word && word != "--") {
        if (word.rfind("console=", 0) == 0) {
            AddConsoleName(
                names, word.substr(8, word.find(',') == std::string::npos ? std::string::npos
                                                                          : word.find(',') - 8));
        }
    }
    const std::string active = sources.consoleActive.empty()
                                   ? sources.ttyClassDir + "/console/active"
                                   : sources.consoleActive;
    std::istringstream activeNames(Attribute(active));
    while (activeNames >> word) {
        AddConsoleName(names, word);
    }
    std::ifstream consoles(sources.procConsoles);
    std::string line;
    while (std::getline(consoles, line)) {
        std::istringstream fields(line);
        if (fields >> word) {
            AddConsoleName(names, word);
        }
    }
    return names;
}

NodeAccess JudgeNodeAccess(const struct stat& node, uid_t user,
                           const std::vector<gid_t>& processGroups, bool listedInGroup) {
    NodeAccess access;
    access.exists = true;
    access.mode = node.st_mode & 07777;
    access.owner = node.st_uid;
    access.group = node.st_gid;
    access.inGroup =
        std::find(processGroups.begin(), processGroups.end(), node.st_gid) != processGroups.end();
    access.listedInGroup = listedInGroup || access.inGroup;
    mode_t readWrite = S_IROTH | S_IWOTH;
    if (user == node.st_uid) {
        readWrite = S_IRUSR | S_IWUSR;
    } else if (access.inGroup) {
        readWrite = S_IRGRP | S_IWGRP;
    }
    access.mayOpen = user == 0 || (node.st_mode & readWrite) == readWrite;
    return access;
}

NodeAccess ReadNodeAccess(const std::string& path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        return {};
    }
    const uid_t user = geteuid();
    NodeAccess access =
        JudgeNodeAccess(node, user, ProcessGroups(), ListedInGroup(user, node.st_gid));
    access.ownerName = UserName(node.st_uid);
    access.groupName = GroupName(node.st_gid);
    return access;
}

std::string UserName(uid_t user) {
    passwd entry{};
    std::vector<char> buffer;
    return LookUpUser(user, &entry, buffer) ? std::string(entry.pw_name) : std::string();
}

PortInfo DescribePort(const std::string& portName, const PortInfoSources& sources) {
    PortInfo info;
    info.name = portName;
    if (portName.empty()) {
        return info;  // names nothing (it would lead to /dev itself)
    }
    if (device::net::IsNetworkPortName(portName)) {
        const auto address = device::net::ParseNetAddress(portName);
        info.network = !address ? "not a network port name (HOST:PORT)"
                       : address->protocol == device::net::NetProtocol::kRfc2217
                           ? "RFC 2217 server at " + device::net::HostAndPort(*address)
                           : "raw TCP to " + device::net::HostAndPort(*address) +
                                 ": no line settings, those chosen here have no effect";
        return info;
    }
    const std::string node = PortNodePath(portName, sources);
    info.devicePath = Resolved(node);
    info.sysName = BaseName(info.devicePath.empty() ? node : info.devicePath);
    info.access = ReadNodeAccess(node);

    // A kernel name with "/" has "!" in sysfs.
    std::string classEntry = info.sysName;
    if (info.devicePath.rfind(sources.devDir + "/", 0) == 0) {
        classEntry = info.devicePath.substr(sources.devDir.size() + 1);
        std::replace(classEntry.begin(), classEntry.end(), '/', '!');
    }
    const std::string entry = sources.ttyClassDir + "/" + classEntry;
    info.inSysfs = Exists(entry);
    if (info.inSysfs) {
        const std::string device = Resolved(entry + "/device");
        if (!device.empty()) {
            info.driver = DriverOf(device);
            ReadUsbDevice(device, info);
        }
    }
    info.byIdPath = ByIdLink(sources.byIdDir, info.devicePath);
    if (info.inSysfs && sources.ttyClassDir == kRealTtyClass) {
        AddUdevFacts(classEntry, info);
    }
    const auto consoles = KernelConsoles(sources);
    info.isConsole = std::find(consoles.begin(), consoles.end(), classEntry) != consoles.end();
    return info;
}

}  // namespace cport
