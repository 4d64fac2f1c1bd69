#include "app/list_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvik {

namespace {

std::string Reason(int error) { return std::strerror(error); }

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
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A symbolic link is saved through, not replaced by a plain file.
std::string ResolveTarget(const std::string& fileName) {
    char* resolved = ::realpath(fileName.c_str(), nullptr);
    if (resolved == nullptr) return fileName;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<Text> SplitListText(std::string_view content) {
    const auto nul = content.find('\0');
    if (nul != std::string_view::npos) content = content.substr(0, nul);

    std::vector<Text> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] != '\r' && content[i] != '\n') continue;
        lines.emplace_back(content.substr(start, i - start));
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < content.size()) lines.emplace_back(content.substr(start));
    return lines;
}

std::vector<Text> LoadListFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowOpen(fileName, errno);
    std::string content;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            ThrowOpen(fileName, error);
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return SplitListText(content);
}

void SaveListFile(const std::string& fileName, const std::vector<Text>& lines) {
    std::string content;
    for (const auto& line : lines) {
        content += line;
        content += "\r\n";
    }

    const std::string target = ResolveTarget(fileName);
    // Replacing by rename would bypass a read-only file's protection.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        ThrowCreate(fileName, errno);
    }
    std::string temporary = DirectoryOf(target) + "/.tarvik2-save-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) ThrowCreate(fileName, errno);

    // Keep the old file's permissions; a new file gets the usual ones.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }

    if (!WriteAll(fd, content) || ::fsync(fd) != 0) {
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
