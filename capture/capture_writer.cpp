#include "capture/capture_writer.h"

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "capture/capture_format.h"

namespace tarvik::capture {

namespace {

// A batch is written in pieces of about this size, so a long queue does not
// become one huge buffer.
constexpr std::size_t kPieceBytes = 1u << 20;

std::string WallText(std::int64_t wallUs) {
    const time_t seconds = static_cast<time_t>(wallUs / 1000000);
    tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%06lld UTC",
                  static_cast<long long>(wallUs % 1000000));
    return text;
}

}  // namespace

std::string CaptureStop::Message() const {
    std::string text = "The capture to " + path + " stopped: " + reason + ". ";
    if (lastTime.Valid()) {
        text.append("It holds the session up to ")
            .append(WallText(lastTime.wallUs))
            .append(" (")
            .append(std::to_string(receivedBytes))
            .append(" bytes received, ")
            .append(std::to_string(sentBytes))
            .append(" sent");
        text += "; the file has";
    } else {
        text += "It holds no record (the file has";
    }
    text.append(" ").append(std::to_string(fileBytes)).append(" bytes). The session goes on.");
    return text;
}

CaptureWriter::CaptureWriter(const std::string& path, CaptureForm form,
                             std::function<void(const CaptureStop&)> onStopped,
                             std::size_t queueBytes)
    : path_(path),
      form_(form),
      queueLimit_(queueBytes),
      onStopped_(std::move(onStopped)),
      sink_(path),
      done_{.path = path},
      thread_([this] { Run(); }) {}

CaptureWriter::~CaptureWriter() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_one();
    sink_.Cancel();
    thread_.join();
}

void CaptureWriter::Received(std::string_view bytes, cport::LineTime time) {
    if (!bytes.empty())
        Add({.kind = RecordKind::kReceived,
             .time = time,
             .bytes = std::string(bytes),
             .event = {}});
}

void CaptureWriter::Sent(std::string_view bytes, cport::LineTime time) {
    if (form_ == CaptureForm::kTimed && !bytes.empty())
        Add({.kind = RecordKind::kSent, .time = time, .bytes = std::string(bytes), .event = {}});
}

void CaptureWriter::Event(const cport::LineEvent& event) {
    if (form_ == CaptureForm::kTimed)
        Add({.kind = RecordKind::kEvent, .time = event.time, .bytes = {}, .event = event});
}

void CaptureWriter::Add(CaptureRecord&& record) {
    {
        const std::lock_guard lock(mutex_);
        if (stopped_)
            return;
        // A record that does not fit stops the capture here: taking later
        // ones would leave a hole the file does not show.
        const std::size_t size = sizeof(CaptureRecord) + record.bytes.size();
        if (queuedBytes_ + size > queueLimit_) {
            stopped_ = true;
            overflow_ = std::string("the disk did not keep up (")
                            .append(std::to_string(queuedBytes_))
                            .append(" bytes were waiting to be written)");
        } else {
            queuedBytes_ += size;
            queue_.push_back(std::move(record));
        }
    }
    wake_.notify_one();
}

bool CaptureWriter::Stopped() const {
    const std::lock_guard lock(mutex_);
    return stopped_;
}

void CaptureWriter::Flush() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return told_ || (!stopped_ && queue_.empty() && !writing_); });
}

void CaptureWriter::Run() {
    // Past the file-size limit a write then fails with EFBIG instead of the
    // signal ending the program.
    sigset_t xfsz;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    ::pthread_sigmask(SIG_BLOCK, &xfsz, nullptr);

    if (form_ == CaptureForm::kTimed) {
        if (const int error = sink_.Write(kTimedHeader); error != 0) {
            sink_.CutBack(0);  // not even the header: an empty file, not a torn one
            StopWith(std::strerror(error));
            return;
        }
    }
    std::vector<CaptureRecord> batch;
    for (;;) {
        std::string overflow;
        {
            std::unique_lock lock(mutex_);
            writing_ = false;
            drained_.notify_all();
            wake_.wait(lock, [this] { return !queue_.empty() || ending_ || !overflow_.empty(); });
            if (queue_.empty() && overflow_.empty())
                break;  // ending, and everything is written
            batch.swap(queue_);
            queuedBytes_ = 0;
            writing_ = true;
            overflow.swap(overflow_);
        }
        if (!WriteBatch(batch))
            break;
        batch.clear();
        if (!overflow.empty()) {
            if (form_ == CaptureForm::kTimed) {
                const std::uint64_t before = sink_.Written();
                if (sink_.Write("# stopped: " + overflow + "\n") != 0)
                    sink_.CutBack(before);  // no torn note either
            }
            StopWith(overflow);
            break;
        }
    }
    const std::lock_guard lock(mutex_);
    writing_ = false;
    drained_.notify_all();
}

bool CaptureWriter::WriteBatch(const std::vector<CaptureRecord>& batch) {
    // Where each record ends in the piece, so that a write that stops part
    // way tells which records are wholly in the file.
    struct Mark {
        std::size_t end;
        cport::LineTime time;
        std::uint64_t received;
        std::uint64_t sent;
    };
    std::vector<Mark> marks;
    CaptureStop pending = done_;
    const auto write = [&] {
        const std::uint64_t before = sink_.Written();
        const int error = sink_.Write(buffer_);
        const std::uint64_t written = sink_.Written() - before;
        std::size_t whole = 0;  // bytes of the piece that end a record
        for (const Mark& mark : marks) {
            if (mark.end > written)
                break;
            whole = mark.end;
            done_.lastTime = mark.time;
            done_.receivedBytes = mark.received;
            done_.sentBytes = mark.sent;
        }
        buffer_.clear();
        marks.clear();
        if (error != 0) {
            // The file ends at its last whole record, so every reader takes
            // it as it stands (a raw capture's bytes are each whole).
            if (form_ == CaptureForm::kTimed)
                sink_.CutBack(before + whole);
            StopWith(error == ENOENT      ? "the file was removed"
                     : error == ETIMEDOUT ? "its reader took nothing more when the capture ended"
                                          : std::strerror(error));
            return false;
        }
        return true;
    };
    for (const CaptureRecord& record : batch) {
        if (form_ == CaptureForm::kTimed) {
            AppendRecordLine(record, buffer_);
        } else {
            buffer_ += record.bytes;
        }
        if (record.kind == RecordKind::kReceived)
            pending.receivedBytes += record.bytes.size();
        if (record.kind == RecordKind::kSent)
            pending.sentBytes += record.bytes.size();
        marks.push_back({buffer_.size(), record.time, pending.receivedBytes, pending.sentBytes});
        if (buffer_.size() >= kPieceBytes && !write())
            return false;
    }
    return buffer_.empty() || write();
}

void CaptureWriter::StopWith(const std::string& reason) {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        queue_.clear();
        queuedBytes_ = 0;
    }
    done_.reason = reason;
    done_.fileBytes = sink_.Written();
    if (onStopped_)
        onStopped_(done_);
    {
        const std::lock_guard lock(mutex_);
        told_ = true;
    }
    drained_.notify_all();
}

}  // namespace tarvik::capture
