#include "base/bounded_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace tarvik {

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

std::string Plain(int error) {
    if (error == EISDIR)
        return "It is a folder, not a file.";
    return std::strerror(error);
}

std::string Seconds(std::chrono::milliseconds ms) {
    const auto count = ms.count();
    if (count % 1000 == 0)
        return std::to_string(count / 1000) + " s";
    return std::to_string(count) + " ms";
}

}  // namespace

EFileRead::EFileRead(const std::string& fileName, const std::string& reason)
    : std::runtime_error("Cannot open file \"" + fileName + "\". " + reason), reason_(reason) {}

std::string DescribeBytes(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1u << 20;
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

BoundedFile::BoundedFile(const std::string& fileName, const FileBound& bound)
    : fileName_(fileName), bound_(bound) {
    // O_NONBLOCK: a FIFO without a writer or a terminal must not hold the
    // caller in open() or read(); streams are waited for in poll, with a limit.
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        throw EFileRead(fileName, Plain(errno));
    struct stat st {};
    int error = ::fstat(fd_, &st) != 0 ? errno : 0;
    if (error == 0 && S_ISDIR(st.st_mode))
        error = EISDIR;
    if (error != 0) {
        ::close(fd_);
        throw EFileRead(fileName, Plain(error));
    }
    regular_ = S_ISREG(st.st_mode);
    if (regular_) {
        size_ = static_cast<std::uint64_t>(st.st_size);
        if (size_ > bound_.maxBytes) {
            ::close(fd_);
            throw EFileRead(fileName, TooLarge());
        }
    }
    buffer_.resize(kPieceBytes);
    lastGiven_ = std::chrono::steady_clock::now();
}

BoundedFile::~BoundedFile() {
    ::close(fd_);
}

std::string BoundedFile::TooLarge() const {
    return "It is larger than the " + DescribeBytes(bound_.maxBytes) + " " + bound_.what + ".";
}

std::string_view BoundedFile::Read() {
    while (!ended_) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n > 0) {
            lastGiven_ = std::chrono::steady_clock::now();
            taken_ += static_cast<std::uint64_t>(n);
            // A regular file that grows while it is read counts as well.
            if (taken_ > bound_.maxBytes)
                throw EFileRead(fileName_, TooLarge());
            return {buffer_.data(), static_cast<std::size_t>(n)};
        }
        if (n == 0) {
            ended_ = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            throw EFileRead(fileName_, Plain(errno));
        if (bound_.streamIdle.count() <= 0) {
            ended_ = true;  // a stream with nothing more to give now
            break;
        }
        pollfd wait{fd_, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            lastGiven_ + bound_.streamIdle - std::chrono::steady_clock::now());
        const int ready =
            left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready == 0)
            throw EFileRead(fileName_, "Nothing came from it for " + Seconds(bound_.streamIdle) +
                                           " (a stream is read only while it gives).");
        if (ready < 0 && errno != EINTR)
            throw EFileRead(fileName_, Plain(errno));
    }
    return {};
}

std::string ReadBoundedFile(const std::string& fileName, const FileBound& bound) {
    BoundedFile file(fileName, bound);
    std::string content;
    try {
        if (file.Regular())
            content.reserve(static_cast<std::size_t>(file.Size()));
        for (std::string_view piece = file.Read(); !piece.empty(); piece = file.Read())
            content.append(piece);
    } catch (const std::bad_alloc&) {
        throw EFileRead(fileName, Plain(ENOMEM));
    }
    return content;
}

}  // namespace tarvik
