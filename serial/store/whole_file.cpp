#include "serial/store/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "base/bounded_file.h"

namespace cport {

namespace {

[[noreturn]] void Fail(int error, const std::string& what, const std::filesystem::path& file) {
    throw std::system_error(error, std::generic_category(), what + " '" + file.string() + "'");
}

// Closes on every way out, so an exception leaks no descriptor.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // close() can report a failed delayed write: the caller must see it.
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

void WriteAll(int fd, std::string_view bytes, const std::filesystem::path& file) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno, "Cannot write", file);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The real file behind any chain of links; the path itself when it does not exist yet.
std::filesystem::path ResolveTarget(const std::filesystem::path& file) {
    std::error_code error;
    auto status = std::filesystem::symlink_status(file, error);
    if (error || !std::filesystem::is_symlink(status))
        return file;
    auto target = std::filesystem::weakly_canonical(file, error);
    return error ? file : target;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes) {
    std::error_code exists;
    if (!std::filesystem::exists(file, exists) && !exists)
        return std::nullopt;
    try {
        return tarvik::ReadBoundedFile(file.string(),
                                       {.maxBytes = maxBytes, .what = "a settings file may hold"});
    } catch (const tarvik::EFileRead&) {
        // Gone between the look and the open: as if it never was.
        if (!std::filesystem::exists(file, exists) && !exists)
            return std::nullopt;
        throw;
    }
}

void ReplaceFileContents(const std::filesystem::path& file, std::string_view bytes) {
    const std::filesystem::path target = ResolveTarget(file);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";

    // The temporary sits in the target's own folder: rename is only atomic
    // within one file system.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp-";
        name += std::to_string(::getpid());
        name += '-';
        name += std::to_string(counter++);
        temporary = folder / name;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100))
            Fail(errno, "Cannot create a temporary file beside", target);
    }
    Descriptor out(fd);
    try {
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0 && ::fchmod(out.Get(), old.st_mode & 07777) != 0)
            Fail(errno, "Cannot keep the permissions of", target);
        WriteAll(out.Get(), bytes, target);
        if (::fsync(out.Get()) != 0)
            Fail(errno, "Cannot flush", target);
        if (out.Close() != 0)
            Fail(errno, "Cannot write", target);
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            Fail(errno, "Cannot replace", target);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // Makes the rename itself durable; the data is already safe either way.
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0 && ::fsync(dir.Get()) != 0 && errno != EINVAL)
        Fail(errno, "Cannot flush the folder of", target);
}

}  // namespace cport
