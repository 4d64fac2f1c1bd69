#include "serial/ports/open_failure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "serial/device/net/net_address.h"
#include "serial/device/net/net_line.h"
#include "serial/device/port_lock.h"

namespace cport {

namespace {

std::string CommandName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// "crw-rw----" as ls shows it.
std::string ModeText(mode_t mode) {
    std::string text = "c---------";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        if ((mode & (0400u >> bit)) != 0) {
            text[static_cast<std::size_t>(bit) + 1] = letters[bit];
        }
    }
    return text;
}

std::string Process(const ProcessName& process) {
    std::string text = "process " + std::to_string(process.pid);
    if (!process.name.empty()) {
        text += " (" + process.name + ")";
    }
    return text;
}

std::string Permission(const OpenFailureFacts& f) {
    const NodeAccess& a = f.access;
    const std::string node = f.devicePath + " (mode " + ModeText(a.mode) + ")";
    const std::string group = Quoted(a.groupName.empty() ? std::to_string(a.group) : a.groupName);
    const std::string user = Quoted(f.userName.empty() ? std::string("you") : f.userName);
    const bool groupMay = (a.mode & 060) == 060;
    if (!a.exists) {
        return "Permission denied on " + f.devicePath + ".";
    }
    if (a.mayOpen) {
        return "Permission denied on " + node +
               ", although its owner, group and mode allow it: a security module (AppArmor, "
               "SELinux) or a container may be refusing it.";
    }
    if (!groupMay || a.groupName.empty()) {
        return "Permission denied: " + node + " may be opened by its owner " +
               Quoted(a.ownerName.empty() ? std::to_string(a.owner) : a.ownerName) +
               " only. Ask the administrator to give it to a group you are in (a udev rule).";
    }
    if (a.listedInGroup && !a.inGroup) {
        return "Permission denied: " + node + " belongs to group " + group + "; user " + user +
               " was added to that group, but this login does not have it yet: log out and in "
               "again.";
    }
    return "Permission denied: " + node + " belongs to group " + group + " and user " + user +
           " is not in that group. Add yourself with: sudo usermod -aG " + a.groupName +
           " $USER, then log out and in again.";
}

std::string Busy(const OpenFailureFacts& f) {
    std::string text = "The port " + f.devicePath + " is busy: ";
    if (!f.holders.empty()) {
        for (std::size_t i = 0; i < f.holders.size(); ++i) {
            text += (i == 0 ? "" : ", ") + Process(f.holders[i]);
        }
        return text + (f.holders.size() == 1 ? " has" : " have") + " it open.";
    }
    if (!f.lockFile.empty() && f.lockOwnerEnded) {
        // Stale, but not ours to remove or take over.
        const std::string whose =
            f.lockOwner.pid > 0
                ? "names process " + std::to_string(f.lockOwner.pid) + ", which has ended"
                : "names no process";
        return text + "the lock file " + f.lockFile + " " + whose + ", but user " +
               Quoted(f.userName.empty() ? std::string("you") : f.userName) +
               " may not remove it: it belongs to user " + Quoted(f.lockFileUser) +
               ". Have it removed (sudo rm " + f.lockFile + ") and try again.";
    }
    if (!f.lockFile.empty()) {
        text += "the lock file " + f.lockFile;
        return text + (f.lockOwner.pid > 0 ? " belongs to " + Process(f.lockOwner) + "."
                                           : " is there and cannot be read.");
    }
    if (f.heldBySelf) {
        return text + "this program has it open already.";
    }
    return text +
           "another program has it open (which cannot be seen: it may run as another "
           "user).";
}

std::string Gone(const OpenFailureFacts& f) {
    if (f.error == ENOENT) {
        return "The port " + f.devicePath +
               " is not there: no such device. An adapter that was unplugged gets its name "
               "again, or another, when it is plugged in.";
    }
    return "The port " + f.devicePath +
           " has no device behind it (unplugged, or no hardware "
           "at that address).";
}

}  // namespace

OpenFailureFacts GatherOpenFailureFacts(const std::string& portName, int error,
                                        const PortInfoSources& sources) {
    const PortInfo info = DescribePort(portName, sources);
    OpenFailureFacts facts;
    facts.port = portName;
    facts.devicePath = info.devicePath.empty() ? PortNodePath(portName, sources) : info.devicePath;
    facts.error = error;
    facts.access = info.access;
    facts.isConsole = info.isConsole;
    facts.userName = UserName(geteuid());
    if (error == EBUSY || error == EWOULDBLOCK) {
        struct stat node {};
        if (stat(facts.devicePath.c_str(), &node) == 0 && S_ISCHR(node.st_mode)) {
            for (const pid_t pid : device::DeviceHolders(node.st_rdev)) {
                facts.holders.push_back({pid, CommandName(pid)});
            }
            facts.heldBySelf = device::SelfHolds(node.st_rdev);
        }
        const device::LockHolder lock = device::FindLockHolder(facts.devicePath);
        if (lock.pid == getpid() && !lock.ended) {
            facts.heldBySelf = true;  // our own lock: another port object has the line
        } else if (lock.ended) {
            facts.lockFile = lock.path;
            facts.lockOwner = {lock.pid, {}};
            facts.lockOwnerEnded = true;
            facts.lockFileUser = UserName(lock.owner);
            if (facts.lockFileUser.empty())
                facts.lockFileUser = std::to_string(lock.owner);
        } else {
            facts.lockFile = lock.path;
            facts.lockOwner = {lock.pid, lock.pid > 0 ? CommandName(lock.pid) : std::string()};
        }
    }
    return facts;
}

std::string ExplainOpenFailure(const OpenFailureFacts& facts) {
    std::string text;
    switch (facts.error) {
        case EACCES:
        case EPERM:
            text = Permission(facts);
            break;
        case EBUSY:
        case EWOULDBLOCK:
            // Permission first: once allowed, the port may still be busy.
            text = facts.access.exists && !facts.access.mayOpen
                       ? Permission(facts) + " " + Busy(facts)
                       : Busy(facts);
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            text = Gone(facts);
            break;
        case ENOTTY:
            text = facts.devicePath + " is not a terminal device, so it is no serial port.";
            break;
        case EIO:
            text = "The device " + facts.devicePath +
                   " reports an input/output error: the line hung up or the adapter fails.";
            break;
        default:
            // strerrordesc_np: thread-safe, unlike strerror.
            const char* what = strerrordesc_np(facts.error);
            text = "Opening " + facts.devicePath + " failed: " +
                   (what != nullptr ? std::string(what) : "error " + std::to_string(facts.error)) +
                   ".";
            break;
    }
    if (facts.isConsole) {
        text += " " + facts.devicePath +
                " is the kernel's console: the kernel writes its messages there and a login "
                "prompt may hold it. Use another port, or take console= off the kernel command "
                "line.";
    }
    return text;
}

std::string ExplainNetworkFailure(const std::string& portName, int error) {
    namespace net = device::net;
    const auto address = net::ParseNetAddress(portName);
    if (!address) {
        return portName + " is no network port name: write rfc2217://HOST:PORT or "
                          "socket://HOST:PORT (an IPv6 address in brackets).";
    }
    const std::string where = net::HostAndPort(*address);
    const std::string raw = "socket://" + where;
    switch (error) {
        case net::kNameNotResolved:
            return where + ": name not resolved: " + address->host +
                   " has no address, or no name server answered within " +
                   std::to_string(net::NetLine::kConnectLimit.count() / 1000) + " s.";
        case ECONNREFUSED:
            return where + " refused the connection: no server listens on port " +
                   std::to_string(address->port) + " there (is ser2net running, on that port?).";
        case ETIMEDOUT:
            return where + " did not answer within " +
                   std::to_string(net::NetLine::kConnectLimit.count() / 1000) +
                   " s: connecting timed out.";
        case net::kOptionRefused:
            return "The server at " + where +
                   " refused RFC 2217 (the Telnet COM-PORT option): it may serve raw TCP, "
                   "reached as " + raw + ".";
        case net::kServerSilent:
            return "The server at " + where + " did not answer the Telnet negotiation within " +
                   std::to_string(net::NetLine::kNegotiationLimit.count() / 1000) +
                   " s: it may not speak Telnet; raw TCP is reached as " + raw + ".";
        case net::kProtocolFault:
            return "The server at " + where + " sent malformed Telnet; the connection was closed.";
        case ECONNRESET:
            return "The server at " + where +
                   " closed the connection while it was being set up (another client may hold "
                   "the port there).";
        default: {
            const char* what = strerrordesc_np(error);
            return "Connecting to " + where + " failed: " +
                   (what != nullptr ? std::string(what) : "error " + std::to_string(error)) + ".";
        }
    }
}

std::string ExplainOpenFailure(const std::string& portName, int error) {
    if (device::net::IsNetworkPortName(portName)) {
        return ExplainNetworkFailure(portName, error);
    }
    return ExplainOpenFailure(GatherOpenFailureFacts(portName, error));
}

}  // namespace cport
