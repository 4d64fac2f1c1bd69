#include "serial/device/port_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace cport::device {

namespace {

// Debian's /var/lock is a link to /run/lock; older systems have only one.
constexpr const char* kLockDirs[] = {"/run/lock", "/var/lock"};

std::vector<std::string> LockDirs() {
    std::vector<std::string> dirs;
    for (const char* dir : kLockDirs) {
        char resolved[PATH_MAX];
        if (realpath(dir, resolved) == nullptr) {
            continue;
        }
        struct stat st;
        if (stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
            continue;
        }
        bool seen = false;
        for (const auto& d : dirs) {
            seen = seen || d == resolved;
        }
        if (!seen) {
            dirs.emplace_back(resolved);
        }
    }
    return dirs;
}

std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The first bytes of a file; *error is ENOENT when it does not exist, another
// errno value when it cannot be read, 0 otherwise.
std::string ReadSmallFile(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    *error = fd < 0 ? errno : 0;
    if (fd < 0) {
        return {};
    }
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool ProcessLives(pid_t pid) {
    // EPERM: it lives, under another user.
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// EBUSY when the lock file at `path` names a live process; a stale one is
// removed.
int CheckLock(const std::string& path) {
    int error = 0;
    const std::string contents = ReadSmallFile(path, &error);
    if (error == ENOENT) {
        return 0;
    }
    if (error != 0) {
        return EBUSY;  // a lock we may not read is someone's
    }
    const pid_t pid = LockFilePid(contents);
    if (ProcessLives(pid)) {
        return EBUSY;
    }
    // A lock whose owner is gone guards nothing; removing it is what the
    // other terminals do too.
    ::unlink(path.c_str());
    return 0;
}

bool IsPtyMaster(const std::string& link) {
    return link == "/dev/ptmx" || link == "/dev/pts/ptmx";
}

// The pseudo-terminal index a master descriptor of another process stands
// for, -1 when it cannot be told.
long MasterIndex(const std::string& fdinfoPath) {
    int error = 0;
    const std::string info = ReadSmallFile(fdinfoPath, &error);
    const auto at = info.find("tty-index:");
    return at == std::string::npos ? -1 : std::strtol(info.c_str() + at + 10, nullptr, 10);
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

PortLockFile::~PortLockFile() {
    Release();
}

PortLockFile::PortLockFile(PortLockFile&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

PortLockFile& PortLockFile::operator=(PortLockFile&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string LockFileName(const std::string& devicePath, bool bareName) {
    std::string name = devicePath;
    if (bareName) {
        name = name.substr(name.rfind('/') + 1);
    } else {
        if (name.rfind("/dev/", 0) == 0) {
            name.erase(0, 5);
        }
        for (char& c : name) {
            c = c == '/' ? '_' : c;
        }
    }
    return "LCK.." + name;
}

pid_t LockFilePid(const std::string& contents) {
    const char* p = contents.c_str();
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p >= '0' && *p <= '9') {
        return static_cast<pid_t>(std::strtol(p, nullptr, 10));
    }
    if (contents.size() == sizeof(std::int32_t)) {
        std::int32_t pid = 0;
        std::memcpy(&pid, contents.data(), sizeof pid);
        return static_cast<pid_t>(pid);
    }
    return 0;
}

int PortLockFile::Acquire(const std::string& devicePath) {
    Release();
    const std::string device = Resolved(devicePath);
    const std::string name = LockFileName(device, false);
    const std::string bare = LockFileName(device, true);
    const auto dirs = LockDirs();
    for (const auto& dir : dirs) {
        for (const auto& n : {name, bare}) {
            if (const int e = CheckLock(dir + "/" + n); e != 0) {
                return e;
            }
        }
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    for (const auto& dir : dirs) {
        const std::string path = dir + "/" + name;
        // Exclusive creation: of two programs starting at once, one wins.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) {
            if (const int e = CheckLock(path); e != 0) {
                return e;
            }
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno == EEXIST) {
                return EBUSY;
            }
        }
        if (fd < 0) {
            continue;  // not ours to write: no lock file here
        }
        // Readable by every user, whatever our umask, so others see who holds it.
        fchmod(fd, 0644);
        const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
        ::close(fd);
        if (!written) {
            ::unlink(path.c_str());
            continue;
        }
        path_ = path;
        return 0;
    }
    return 0;
}

void PortLockFile::Release() {
    if (path_.empty()) {
        return;
    }
    int error = 0;
    if (LockFilePid(ReadSmallFile(path_, &error)) == getpid()) {
        ::unlink(path_.c_str());
    }
    path_.clear();
}

namespace {

// Unix98 pseudo-terminal slaves: majors 136-143, 256 minors each; -1 for
// any other device.
long PtyIndex(dev_t rdev) {
    const unsigned maj = major(rdev);
    return maj >= 136 && maj <= 143 ? static_cast<long>((maj - 136) * 256 + minor(rdev)) : -1;
}

// Whether process directory `base` ("/proc/<pid>") holds `rdev` open, and
// whether it holds the master of that pseudo-terminal.
struct Holding {
    bool device = false;
    bool master = false;
};

Holding LookAtProcess(const std::string& base, dev_t rdev, long ptyIndex) {
    Holding holding;
    // Another user's descriptors are closed to us unless we are root.
    DirPtr fds(opendir((base + "/fd").c_str()));
    if (!fds) {
        return holding;
    }
    while (const dirent* fdEntry = readdir(fds.get())) {
        if (!IsNumber(fdEntry->d_name)) {
            continue;
        }
        const std::string fdPath = base + "/fd/" + fdEntry->d_name;
        char link[PATH_MAX];
        const ssize_t n = readlink(fdPath.c_str(), link, sizeof link - 1);
        // Only device nodes can be our device; stat nothing else (a file on
        // a dead network share could hang us).
        if (n < 5 || std::strncmp(link, "/dev/", 5) != 0) {
            continue;
        }
        link[n] = '\0';
        if (ptyIndex >= 0 && IsPtyMaster(link)) {
            holding.master =
                holding.master || MasterIndex(base + "/fdinfo/" + fdEntry->d_name) == ptyIndex;
            continue;
        }
        struct stat st;
        if (stat(fdPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
            holding.device = true;
        }
    }
    return holding;
}

}  // namespace

std::vector<pid_t> DeviceHolders(dev_t rdev) {
    std::vector<pid_t> holders;
    DirPtr proc(opendir("/proc"));
    if (!proc) {
        return holders;  // no /proc: nothing to tell
    }
    const long ptyIndex = PtyIndex(rdev);
    const pid_t self = getpid();
    while (const dirent* entry = readdir(proc.get())) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid == self) {
            continue;
        }
        const Holding holding =
            LookAtProcess(std::string("/proc/") + entry->d_name, rdev, ptyIndex);
        if (holding.device && !holding.master) {
            holders.push_back(pid);
        }
    }
    std::sort(holders.begin(), holders.end());
    return holders;
}

bool SelfHolds(dev_t rdev) {
    return LookAtProcess("/proc/self", rdev, -1).device;
}

int CheckNoOtherHolder(int fd) {
    struct stat own;
    if (fstat(fd, &own) != 0) {
        return errno;
    }
    if (!S_ISCHR(own.st_mode)) {
        return 0;
    }
    return DeviceHolders(own.st_rdev).empty() ? 0 : EBUSY;
}

LockHolder FindLockHolder(const std::string& devicePath) {
    const std::string device = Resolved(devicePath);
    for (const auto& dir : LockDirs()) {
        for (const bool bare : {false, true}) {
            const std::string path = dir + "/" + LockFileName(device, bare);
            int error = 0;
            const std::string contents = ReadSmallFile(path, &error);
            if (error == ENOENT) {
                continue;
            }
            const pid_t pid = error == 0 ? LockFilePid(contents) : 0;
            // A lock we may not read is someone's; one whose owner is gone is not.
            if (error != 0 || ProcessLives(pid)) {
                return {path, pid};
            }
        }
    }
    return {};
}

}  // namespace cport::device
