#pragma once
// Keeping a port to ourselves beyond the descriptor's own locks (flock and
// TIOCEXCL), which a program that opened the device before us, or as root,
// without locking does not notice:
//  - the UUCP lock file "LCK..name" in /run/lock (or /var/lock), which
//    minicom, picocom, cu and ModemManager honour; we honour theirs and hold
//    one of our own while the port is open;
//  - a look through /proc for other processes that hold the device open.
// Results are 0 or an errno value (EBUSY: someone else has the port).
// Any thread.

#include <sys/types.h>

#include <string>
#include <vector>

namespace cport::device {

class PortLockFile {
  public:
    PortLockFile() = default;
    // Removes the lock file if it is still ours.
    ~PortLockFile();
    PortLockFile(PortLockFile&& other) noexcept;
    PortLockFile& operator=(PortLockFile&& other) noexcept;
    PortLockFile(const PortLockFile&) = delete;
    PortLockFile& operator=(const PortLockFile&) = delete;

    // EBUSY when a live process holds the lock of the device at `devicePath`
    // (symbolic links resolved); a lock whose process is gone is removed, or
    // taken over where we may write it but not remove it (EBUSY where we may
    // do neither). Then takes the lock. Where no lock directory exists or we may not write
    // there, no lock file is made and 0 is returned: the other checks still
    // keep the port ours.
    int Acquire(const std::string& devicePath);
    void Release();

    // The lock file now held, "" when none.
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// The lock file names that may guard a device: "LCK..ttyS0" for /dev/ttyS0;
// for a device in a subdirectory the lockdev form "LCK..pts_3" first, then
// the bare name "LCK..3" that some terminals use.
std::string LockFileName(const std::string& devicePath, bool bareName);

// The process id in a lock file's contents (ASCII, or the old 4-byte binary
// form); 0 when there is none.
pid_t LockFilePid(const std::string& contents);

// EBUSY when a process other than this one holds the device of the open
// descriptor `fd` open. The far end of a pseudo-terminal (a simulator, a
// test, socat) is not another user of the port: the processes that hold its
// master, and those that descend from them (the program socat starts
// inherits socat's slave). Processes whose descriptors we may not see
// (another user's, for a non-root caller) are not counted.
int CheckNoOtherHolder(int fd);

// The processes other than this one that hold the character device `rdev`
// open, in increasing order; the far end of a pseudo-terminal (the
// processes other than this one that hold its master, and their
// descendants) is not counted. Processes whose
// descriptors we may not see are not counted either.
std::vector<pid_t> DeviceHolders(dev_t rdev);
// Whether this process itself holds the device open.
bool SelfHolds(dev_t rdev);

// The lock file that keeps the device at `devicePath` from us: its path, the
// process named in it (0 when the file cannot be read) and its owner; a
// stale lock (its process ended) only where this process may neither remove
// nor write it. Empty when none does. Reads only: Acquire removes what it may.
struct LockHolder {
    std::string path;
    pid_t pid = 0;
    bool ended = false;  // the process named has ended
    uid_t owner = 0;     // the file's owner
};
LockHolder FindLockHolder(const std::string& devicePath);

}  // namespace cport::device
