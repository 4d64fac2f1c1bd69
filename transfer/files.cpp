#include "transfer/files.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "transfer/transfer_error.h"

namespace tarvik::transfer {

namespace {

[[noreturn]] void FileFailed(const std::string& what, const std::string& path) {
    throw ETransfer(TransferCode::kFile,
                    what + " \"" + path + "\": " + std::strerror(errno));
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
    // Not blocking: a FIFO or a device given by mistake would hold the open
    // until someone writes to it.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        FileFailed("Cannot read file", path);
    struct stat info {};
    if (fstat(fd_, &info) != 0)
        FileFailed("Cannot read file", path);
    if (!S_ISREG(info.st_mode)) {
        close(fd_);
        fd_ = -1;
        throw ETransfer(TransferCode::kFile, "Cannot send \"" + path + "\": " +
                                                 (S_ISDIR(info.st_mode) ? "a folder" : "not a regular file"));
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    changed_ = info.st_mtim;
}

InputFile::~InputFile() {
    if (fd_ >= 0)
        close(fd_);
}

std::string InputFile::Read(std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd_, bytes.data() + got, count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            FileFailed("Cannot read file", path_);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    offset_ += got;
    // Told at the block it happened, not after the rest went out for nothing.
    CheckUnchanged();
    if (got < count && offset_ != size_)
        throw ETransfer(TransferCode::kFile, "The file \"" + path_ + "\" changed while it was sent");
    return bytes;
}

void InputFile::CheckUnchanged() const {
    struct stat info {};
    if (fstat(fd_, &info) != 0)
        FileFailed("Cannot read file", path_);
    if (static_cast<std::uint64_t>(info.st_size) != size_ ||
        info.st_mtim.tv_sec != changed_.tv_sec || info.st_mtim.tv_nsec != changed_.tv_nsec)
        throw ETransfer(TransferCode::kFile, "The file \"" + path_ + "\" changed while it was sent (" +
                                                 std::to_string(offset_) + " of " +
                                                 std::to_string(size_) + " bytes read)");
}

OutputFile::OutputFile(const std::string& target) : target_(target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    temporary_ = folder + "." + name + ".XXXXXX.part";
    fd_ = mkostemps(temporary_.data(), 5, O_CLOEXEC);
    if (fd_ < 0)
        FileFailed("Cannot create a file beside", target);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        close(fd_);
    if (!committed_)
        unlink(temporary_.c_str());
}

void OutputFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            FileFailed("Cannot write the file received into", target_);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        written_ += static_cast<std::uint64_t>(n);
    }
}

void OutputFile::Commit() {
    // mkstemp made it private; a file received is an ordinary file.
    if (fchmod(fd_, 0644) != 0 || fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        FileFailed("Cannot write the file received into", target_);
    }
    fd_ = -1;
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        FileFailed("Cannot put the file received in place as", target_);
    committed_ = true;
}

std::string SafeFileName(std::string_view sent) {
    const std::size_t slash = sent.find_last_of("/\\");
    std::string name(slash == std::string_view::npos ? sent : sent.substr(slash + 1));
    if (name == "." || name == "..")
        return {};
    return name;
}

}  // namespace tarvik::transfer
