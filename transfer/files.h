#pragma once
// The files a transfer reads and writes. A file sent is read as it goes and
// watched for changes (a changed file would arrive as neither version); a
// file received goes to a temporary file beside its target, renamed over the
// target only when whole, removed otherwise. Engine thread.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace tarvik::transfer {

class InputFile {
  public:
    // ETransfer(kFile) when the file cannot be opened or is no regular file.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }
    // Up to `count` bytes from where the last read ended; fewer only at the
    // end. ETransfer(kFile) on a read error or a file that changed.
    std::string Read(std::size_t count);
    // ETransfer(kFile) when the file's size or time of change moved since it was opened.
    void CheckUnchanged() const;

  private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    timespec changed_{};
};

class OutputFile {
  public:
    // Creates the temporary file in the target's folder. ETransfer(kFile).
    explicit OutputFile(const std::string& target);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // ETransfer(kFile) on a write error (a full disk).
    void Write(std::string_view bytes);
    std::uint64_t Written() const { return written_; }
    // Flushes to the disk and renames over the target. ETransfer(kFile).
    void Commit();
    const std::string& Target() const { return target_; }

  private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

// The last part of a path a far end named, safe to put into a folder of our
// choice; empty when nothing usable is left ("", ".", "..").
std::string SafeFileName(std::string_view sent);

}  // namespace tarvik::transfer
