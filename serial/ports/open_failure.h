#pragma once
// Why an open failed, in words a Linux user can act on. Beside the error the
// port raises (code 1 with the system's number, unchanged), this says which
// group the node belongs to and the command that adds the user to it, which
// process or lock file holds a busy port, that a port is gone, or that it is
// the kernel's console. Qt-free; any thread (it reads /proc, /dev and sysfs).

#include <sys/types.h>

#include <string>
#include <vector>

#include "serial/ports/port_info.h"

namespace cport {

struct ProcessName {
    pid_t pid = 0;
    std::string name;  // its command name ("minicom"); "" when it cannot be read
};

// What the explanation is made of; gathered from the system, or built by a
// test.
struct OpenFailureFacts {
    std::string port;        // the port name as given
    std::string devicePath;  // the node it leads to
    int error = 0;           // the errno value the open failed with
    NodeAccess access;
    std::string userName;              // who runs this program
    std::vector<ProcessName> holders;  // other processes that hold the device
    bool heldBySelf = false;           // this program holds it already
    std::string lockFile;              // a lock file that keeps it from us
    ProcessName lockOwner;             // the process it names
    bool lockOwnerEnded = false;       // that process has ended, but the file stays:
    std::string lockFileUser;          // it is this user's, and not ours to remove
    bool isConsole = false;
};

OpenFailureFacts GatherOpenFailureFacts(const std::string& portName, int error,
                                        const PortInfoSources& sources = {});

// One or more sentences, UTF-8, no line breaks.
std::string ExplainOpenFailure(const OpenFailureFacts& facts);

// For a network port (rfc2217://, socket://): the host and port and what
// failed on the way to the server (no address for the name, refused, timed
// out, the server refused the option or stayed silent).
std::string ExplainNetworkFailure(const std::string& portName, int error);

// Gathers and explains (a network port's failure as above): for the port name and the number that an EComPort of
// a failed Open carries (WinErrorCode).
std::string ExplainOpenFailure(const std::string& portName, int error);

}  // namespace cport
