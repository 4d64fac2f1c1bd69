#pragma once
// Reading a file the user names, with a bound on what it may cost: a regular
// file larger than the bound is refused before a byte is read; anything else
// (a FIFO, a terminal, /dev/zero) is read as a stream, refused once it gives
// more than the bound, and never waited on without end. Every refusal is a
// sentence that names the file and, where it is the bound, the bound.
// Any thread; one BoundedFile belongs to one thread at a time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// "Cannot open file "<name>". <reason>"; Reason() is the part after the name.
class EFileRead : public std::runtime_error {
  public:
    EFileRead(const std::string& fileName, const std::string& reason);
    const std::string& Reason() const { return reason_; }

  private:
    std::string reason_;
};

struct FileBound {
    std::size_t maxBytes = 0;
    // Completes "It is larger than the 16 MiB ...": "a script may hold".
    const char* what = "a file may hold";
    // How long a stream may give nothing, from opening or from the bytes it
    // last gave, before the reading ends (0: only what it holds at this
    // moment is read, nothing waited for). Under a second, so that a stream
    // that never gives is refused within one.
    std::chrono::milliseconds streamIdle{800};
};

class BoundedFile {
  public:
    // Opens without waiting (no FIFO writer, no modem carrier is waited for).
    // Throws EFileRead: cannot be opened, a folder, a regular file over the bound.
    BoundedFile(const std::string& fileName, const FileBound& bound);
    ~BoundedFile();
    BoundedFile(const BoundedFile&) = delete;
    BoundedFile& operator=(const BoundedFile&) = delete;

    // The next bytes, valid until the next call; empty at the end. Throws
    // EFileRead for a read error, a stream past the bound, or a stream that
    // gave nothing for `streamIdle` while it was still held open.
    std::string_view Read();

    bool Regular() const { return regular_; }
    // A regular file's size when it was opened; 0 for a stream.
    std::uint64_t Size() const { return size_; }
    const std::string& FileName() const { return fileName_; }
    // The sentence for a file past the bound ("It is larger than the 16 MiB a script may hold.").
    std::string TooLarge() const;

  private:
    std::string fileName_;
    FileBound bound_;
    int fd_ = -1;
    bool regular_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t taken_ = 0;
    bool ended_ = false;
    std::vector<char> buffer_;
    std::chrono::steady_clock::time_point lastGiven_;  // opening, then the latest bytes
};

// The whole file within the bound.
std::string ReadBoundedFile(const std::string& fileName, const FileBound& bound);

// "16 MiB", "1024 MiB", "300 bytes": a bound as a person reads it.
std::string DescribeBytes(std::uint64_t bytes);

}  // namespace tarvik
