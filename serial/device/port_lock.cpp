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

// What a lock file means for us: none there (or a stale one removed), one
// of a live process (or one we may not read, which is someone's), or a stale
// one we may not remove.
enum class LockState { kFree, kLive, kStaleKept };

LockState InspectLock(const std::string& path) {
    int error = 0;
    const std::string contents = ReadSmallFile(path, &error);
    if (error == ENOENT) {
        return LockState::kFree;
    }
    if (error != 0 || ProcessLives(LockFilePid(contents))) {
        return LockState::kLive;
    }
    // A lock whose owner is gone guards nothing; removing it is what the
    // other terminals do too.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return LockState::kFree;
    }
    return LockState::kStaleKept;
}

// A stale lock that we may not remove (another user's, in the sticky lock
// folder) but may write is taken over by writing our process id into it.
bool TakeOver(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return written;
}

// Whether this process may remove the file at `path`: it may write to the
// folder and, where the folder is sticky (as /run/lock is), owns the file
// or the folder, or is root.
bool MayRemove(const std::string& path, const struct stat& file) {
    const std::string dir = path.substr(0, path.rfind('/'));
    struct stat folder;
    if (stat(dir.c_str(), &folder) != 0 ||
        faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    const uid_t self = geteuid();
    return (folder.st_mode & S_ISVTX) == 0 || self == 0 || file.st_uid == self ||
           folder.st_uid == self;
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
    char number[16];
    const int length = std::snprintf(number, sizeof number, "%10d\n", static_cast<int>(getpid()));
    const std::string text(number, static_cast<std::size_t>(length));
    std::string takenOver;
    for (const auto& dir : dirs) {
        for (const auto& n : {name, bare}) {
            const std::string path = dir + "/" + n;
            switch (InspectLock(path)) {
                case LockState::kFree:
                    break;
                case LockState::kLive:
                    return EBUSY;
                case LockState::kStaleKept:
                    if (!takenOver.empty() || !TakeOver(path, text)) {
                        return EBUSY;
                    }
                    takenOver = path;
                    break;
            }
        }
    }
    if (!takenOver.empty()) {
        path_ = takenOver;
        return 0;
    }
    for (const auto& dir : dirs) {
        const std::string path = dir + "/" + name;
        // Exclusive creation: of two programs starting at once, one wins.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) {
            if (InspectLock(path) != LockState::kFree) {
                return EBUSY;
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
        const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
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
    if (LockFilePid(ReadSmallFile(path_, &error)) == getpid() && ::unlink(path_.c_str()) != 0) {
        // A lock taken over that we may not remove: emptied, it names nobody.
        TakeOver(path_, "");
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

namespace {

// The parent of a process, 0 when it cannot be read (gone, or none).
pid_t ParentOf(pid_t pid) {
    int error = 0;
    const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", &error);
    // "pid (comm) state ppid ...": the command name may hold spaces and parentheses.
    const auto end = stat.rfind(')');
    if (end == std::string::npos || end + 4 > stat.size()) {
        return 0;
    }
    return static_cast<pid_t>(std::strtol(stat.c_str() + end + 4, nullptr, 10));
}

// Whether `pid` descends from one of `ancestors` (sorted).
bool DescendsFrom(pid_t pid, const std::vector<pid_t>& ancestors) {
    // Bounded: a parent read while processes come and go may lead anywhere.
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        pid = ParentOf(pid);
        if (std::binary_search(ancestors.begin(), ancestors.end(), pid)) {
            return true;
        }
    }
    return false;
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
    std::vector<pid_t> masters;
    while (const dirent* entry = readdir(proc.get())) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        // This program is never the far end of a line it opens; a program it
        // started holds the line as any other would.
        if (pid == self) {
            continue;
        }
        const Holding holding =
            LookAtProcess(std::string("/proc/") + entry->d_name, rdev, ptyIndex);
        if (holding.master) {
            masters.push_back(pid);
        } else if (holding.device) {
            holders.push_back(pid);
        }
    }
    std::sort(masters.begin(), masters.end());
    // The far end of a pty is the process tree at its master: a program that
    // `socat pty,link=P SYSTEM:prog,pty` starts inherits socat's slave of P.
    if (!masters.empty()) {
        std::erase_if(holders, [&masters](pid_t pid) { return DescendsFrom(pid, masters); });
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
            struct stat file;
            if (error == ENOENT || lstat(path.c_str(), &file) != 0) {
                continue;
            }
            LockHolder holder{path, error == 0 ? LockFilePid(contents) : 0, false, file.st_uid};
            // A lock we may not read is someone's; one whose owner is gone
            // keeps the port only where it may not be removed.
            if (error == 0 && !ProcessLives(holder.pid)) {
                holder.ended = true;
                // Acquire removes it, or takes it over where it may write it.
                if (MayRemove(path, file) ||
                    faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) {
                    continue;
                }
            }
            return holder;
        }
    }
    return {};
}

}  // namespace cport::device
