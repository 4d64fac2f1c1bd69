#pragma once
// The file a capture goes into. A regular file is created or emptied; a
// FIFO, a terminal or another device node is written into as it stands (a
// FIFO stays a FIFO; one without a reader is refused at once rather than
// waited for). Write is called by one thread at a time, the writer's;
// Cancel by any.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik::capture {

class CaptureSink {
  public:
    // Throws std::system_error whose message names the file.
    explicit CaptureSink(const std::string& path);
    ~CaptureSink();
    CaptureSink(const CaptureSink&) = delete;
    CaptureSink& operator=(const CaptureSink&) = delete;

    // Writes all of `data`; 0, or the errno that stopped it (ENOSPC for a
    // full disk, EFBIG past the file-size limit, ENOENT when the file was
    // removed while being written). Call with SIGXFSZ blocked (the writer
    // thread blocks it), so the limit gives EFBIG instead of ending the program.
    int Write(std::string_view data);
    // From now on a FIFO or device that takes nothing for kGiveUpMs makes
    // Write give up with ETIMEDOUT (a reader that stopped reading must not
    // hold up the end of a capture for ever). Any thread.
    void Cancel();
    static constexpr int kGiveUpMs = 2000;

    // Ends a regular file at `size` (no more than it took), so that a write
    // the disk stopped part way leaves no torn record behind; nothing for a
    // stream, whose reader already has the bytes. 0 or the errno.
    int CutBack(std::uint64_t size);

    // Bytes the file has taken so far (after CutBack: what it keeps).
    std::uint64_t Written() const { return written_; }

  private:
    int fd_ = -1;
    bool regular_ = false;
    int cancel_ = -1;         // eventfd, readable once Cancel was called
    bool cancelled_ = false;  // the writer's: Cancel was seen
    std::uint64_t written_ = 0;
};

}  // namespace tarvik::capture
