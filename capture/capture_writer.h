#pragma once
// Writes a session into a file on a thread of its own, behind a bounded
// queue: whoever reports what happened on the line (the window's main
// thread, a headless runner) hands records over and never waits on the disk.
//
// A capture stops, once, when the file cannot take more (a full disk, the
// file-size limit, an I/O error, the file removed) or when the queue is full
// because the disk does not keep up: nothing after that point is taken, so
// the file holds an unbroken session up to where it stopped, never one with
// a hole. The stop is told to `onStopped` with where it happened; the
// session, the port and the logs go on.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture_record.h"
#include "capture/capture_sink.h"

namespace tarvik::capture {

enum class CaptureForm {
    kTimed,  // every record, as capture_format.h writes it
    kRaw,    // the received bytes alone, nothing added
};

// Where a capture stopped and why.
struct CaptureStop {
    std::string path = {};
    std::string reason = {};          // "No space left on device", ...
    cport::LineTime lastTime = {};    // of the last record wholly in the file (zero: none)
    std::uint64_t receivedBytes = 0;  // received bytes wholly in the file
    std::uint64_t sentBytes = 0;      // sent bytes wholly in the file
    std::uint64_t fileBytes = 0;      // bytes the file took

    // One sentence for a message box or a terminal (UTF-8).
    std::string Message() const;
};

class CaptureWriter {
  public:
    // Records may wait up to this many bytes (each its payload and its
    // record, so many small blocks are bounded as well) for the disk: an
    // hour and more of a 115200-baud line, seconds of a pty flood, so only a
    // disk that has stalled fills it.
    static constexpr std::size_t kDefaultQueueBytes = 64u << 20;

    // Opens the file (capture_sink.h) and, for the timed form, writes its
    // header; starts the writer thread. Throws std::system_error naming the
    // file. `onStopped` is called on the writer thread, at most once.
    CaptureWriter(const std::string& path, CaptureForm form,
                  std::function<void(const CaptureStop&)> onStopped,
                  std::size_t queueBytes = kDefaultQueueBytes);
    // Writes what is queued, then ends the thread and closes the file.
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Hand a record over. Any thread; holds a lock only to queue. Ignored
    // once the capture has stopped (and records a raw capture has no place
    // for: sent blocks and events).
    void Received(std::string_view bytes, cport::LineTime time);
    void Sent(std::string_view bytes, cport::LineTime time);
    void Event(const cport::LineEvent& event);

    // True once the capture stopped (the file takes nothing more). Any thread.
    bool Stopped() const;
    // Waits until every record handed over so far is in the file or the
    // capture stopped. For tests and benchmarks; not on a window's main thread.
    void Flush();

    const std::string& Path() const { return path_; }
    CaptureForm Form() const { return form_; }

  private:
    void Add(CaptureRecord&& record);
    void Run();
    // Formats and writes one batch; false when the file refused it.
    bool WriteBatch(const std::vector<CaptureRecord>& batch);
    void StopWith(const std::string& reason);

    const std::string path_;
    const CaptureForm form_;
    const std::size_t queueLimit_;
    std::function<void(const CaptureStop&)> onStopped_;
    CaptureSink sink_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the writer: records or the end
    std::condition_variable drained_;  // Flush: the queue is written
    std::vector<CaptureRecord> queue_;
    std::size_t queuedBytes_ = 0;
    bool writing_ = false;  // a batch is out of the queue, not yet written
    bool ending_ = false;
    bool stopped_ = false;
    bool told_ = false;     // the stop has been told to onStopped
    std::string overflow_;  // why Add stopped the capture; empty: it did not

    // The writer thread's own.
    CaptureStop done_;
    std::string buffer_;

    std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace tarvik::capture
