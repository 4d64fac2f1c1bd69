#include "base/list_file.h"

#include "base/bounded_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace tarvik {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

[[noreturn]] void ThrowOpen(const std::string& fileName, int error) {
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + Reason(error));
}

[[noreturn]] void ThrowCreate(const std::string& fileName, int error) {
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + Reason(error));
}

// Writes all of data or returns false with errno set; a short write is retried.
bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A symbolic link is saved through, not replaced by a plain file.
std::string ResolveTarget(const std::string& fileName) {
    char* resolved = ::realpath(fileName.c_str(), nullptr);
    if (resolved == nullptr)
        return fileName;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void ForEachListLine(std::string_view content,
                     const std::function<void(std::size_t, std::size_t)>& line) {
    const auto nul = content.find('\0');
    if (nul != std::string_view::npos)
        content = content.substr(0, nul);
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] != '\r' && content[i] != '\n')
            continue;
        line(start, i - start);
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < content.size())
        line(start, content.size() - start);
}

std::vector<Text> SplitListText(std::string_view content) {
    std::vector<Text> lines;
    ForEachListLine(content, [&](std::size_t start, std::size_t length) {
        lines.emplace_back(content.substr(start, length));
    });
    return lines;
}

std::vector<Text> LoadListFile(const std::string& fileName, std::size_t maxBytes) {
    return SplitListText(ReadListFile(fileName, maxBytes));
}

std::string ReadListFile(const std::string& fileName, std::size_t maxBytes,
                         std::chrono::milliseconds streamIdle, const char* what) {
    // By default a list loads what a stream holds at this moment: the window
    // never waits on it.
    const FileBound bound{.maxBytes = maxBytes, .what = what, .streamIdle = streamIdle};
    try {
        BoundedFile file(fileName, bound);
        std::string content;
        bool reserved = false;
        for (std::string_view piece = file.Read(); !piece.empty(); piece = file.Read()) {
            // Nothing after the first NUL counts, so nothing after it is read:
            // /dev/zero, /dev/urandom and a sparse file end here at once.
            const auto nul = piece.find('\0');
            if (nul != std::string_view::npos) {
                content.append(piece.substr(0, nul));
                break;
            }
            // Room for the whole file once its first piece shows it is text.
            if (!reserved && file.Regular())
                content.reserve(static_cast<std::size_t>(file.Size()));
            reserved = true;
            content.append(piece);
        }
        return content;
    } catch (const EFileRead& error) {
        throw EFOpenError(error.what());
    } catch (const std::bad_alloc&) {
        ThrowOpen(fileName, ENOMEM);
    }
}

namespace {

// Writing beyond the file-size limit raises SIGXFSZ, whose default action
// ends the program with the unsaved list. While this is alive the signal is
// held back for this thread, so the write fails with EFBIG instead; one the
// write raised is taken away before the mask is restored.
class HoldFileSizeSignal {
  public:
    HoldFileSizeSignal() {
        sigset_t xfsz;
        sigemptyset(&xfsz);
        sigaddset(&xfsz, SIGXFSZ);
        ::pthread_sigmask(SIG_BLOCK, &xfsz, &old_);
        wasPending_ = IsPending();
    }
    ~HoldFileSizeSignal() {
        if (!wasPending_ && IsPending()) {
            sigset_t xfsz;
            sigemptyset(&xfsz);
            sigaddset(&xfsz, SIGXFSZ);
            const timespec now{0, 0};
            ::sigtimedwait(&xfsz, nullptr, &now);
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    HoldFileSizeSignal(const HoldFileSizeSignal&) = delete;
    HoldFileSizeSignal& operator=(const HoldFileSizeSignal&) = delete;

  private:
    static bool IsPending() {
        sigset_t pending;
        sigemptyset(&pending);
        return ::sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }
    sigset_t old_{};
    bool wasPending_ = false;
};

// Reserves the room for `size` bytes first, so that a full disk or the
// file-size limit shows before any old byte is overwritten. File systems
// without reservations are written as they are.
bool Reserve(int fd, std::size_t size) {
    if (size == 0)
        return true;
    const int result = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (result == 0 || result == EOPNOTSUPP || result == EINVAL)
        return true;
    errno = result;
    return false;
}

std::string ReadAll(int fd) {
    std::string content;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            return content;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category());
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
}

// Anything that is not a regular file (a FIFO, a terminal, /dev/null) is
// written into as it stands: replacing it would put a plain file where the
// device node was. O_NONBLOCK keeps open() from waiting for a FIFO's reader
// (none gives ENXIO) or a modem's carrier; the writing itself then blocks as usual.
void WriteIntoNode(const std::string& fileName, const std::string& target,
                   const std::string& content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        ThrowCreate(fileName, errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!WriteAll(fd, content)) {
        const int error = errno;
        ::close(fd);
        ThrowCreate(fileName, error);
    }
    if (::close(fd) != 0)
        ThrowCreate(fileName, errno);
}

// A folder that takes no new file can still hold a file the user may write:
// that file is overwritten in place. The old content is read first, the room
// for the new one reserved before its first byte changes, and should the
// writing fail after all, the old content is written back.
void WriteInPlace(const std::string& fileName, const std::string& target,
                  const std::string& content) {
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        ThrowCreate(fileName, errno);
    std::string old;
    try {
        old = ReadAll(fd);
    } catch (const std::system_error& error) {
        ::close(fd);
        ThrowCreate(fileName, error.code().value());
    }
    const auto writeAt0 = [fd](const std::string& data) {
        return ::lseek(fd, 0, SEEK_SET) == 0 && Reserve(fd, data.size()) && WriteAll(fd, data) &&
               ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 && ::fsync(fd) == 0;
    };
    if (!writeAt0(content)) {
        const int error = errno;
        writeAt0(old);
        ::close(fd);
        ThrowCreate(fileName, error);
    }
    if (::close(fd) != 0)
        ThrowCreate(fileName, errno);
}

}  // namespace

void SaveListFile(const std::string& fileName, const std::vector<Text>& lines) {
    std::string content;
    for (const auto& line : lines) {
        content += line;
        content += "\r\n";
    }

    const HoldFileSizeSignal holdSignal;
    const std::string target = ResolveTarget(fileName);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        ThrowCreate(fileName, EISDIR);
    if (exists && !S_ISREG(old.st_mode)) {
        WriteIntoNode(fileName, target, content);
        return;
    }
    // Replacing by rename would bypass a read-only file's protection.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        ThrowCreate(fileName, errno);
    std::string temporary = DirectoryOf(target) + "/.tarvik2-save-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        if (exists && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            WriteInPlace(fileName, target, content);
            return;
        }
        ThrowCreate(fileName, errno);
    }

    // Keep the old file's permissions; a new file gets the usual ones.
    if (exists) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }

    if (!Reserve(fd, content.size()) || !WriteAll(fd, content) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        ThrowCreate(fileName, error);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        ThrowCreate(fileName, error);
    }
}

std::string ProposedListFileName(const std::string& componentName, const std::tm& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "_%02d%02d%02d_%02d%02d%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec);
    return componentName + stamp + ".txt";
}

}  // namespace tarvik
