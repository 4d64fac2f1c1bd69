#pragma once
// Shared by the capture tests: a temporary folder, whole files, and a port
// whose session goes into a timed and a raw capture while the test keeps
// the records it handed over, to compare with what the files hold.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_writer.h"
#include "serial/port/com_port.h"

namespace tarvik::capture::test {

class TempDir {
  public:
    TempDir() {
        std::string name =
            (std::filesystem::temp_directory_path() / "tarvik-capture-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The stops a writer told, in order. Any thread.
class StopLog {
  public:
    std::function<void(const CaptureStop&)> Handler() {
        return [this](const CaptureStop& stop) {
            const std::lock_guard lock(mutex_);
            stops_.push_back(stop);
        };
    }
    std::vector<CaptureStop> Stops() const {
        const std::lock_guard lock(mutex_);
        return stops_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CaptureStop> stops_;
};

// A port's session captured as the window captures it: what it reads with
// the first arrival time, what it writes with the time it was handed over,
// and its line events. Main thread (the port's handlers under smThreadSync).
class CapturedSession {
  public:
    CapturedSession(cport::TComPort& port, const std::string& timedPath, const std::string& rawPath)
        : port_(port),
          timed_(std::make_unique<CaptureWriter>(timedPath, CaptureForm::kTimed, nullptr)),
          raw_(std::make_unique<CaptureWriter>(rawPath, CaptureForm::kRaw, nullptr)) {
        port.SetOnRxChar([this](QObject*, std::int32_t count) {
            Text bytes;
            port_.ReadText(bytes, count);
            const cport::LineTime time = port_.LastReadTimes().first;
            timed_->Received(bytes, time);
            raw_->Received(bytes, time);
            received += bytes;
            records.push_back({.kind = RecordKind::kReceived, .time = time, .bytes = bytes});
        });
        port.SetOnLineEvent([this](QObject*, const cport::LineEvent& event) {
            timed_->Event(event);
            records.push_back({.kind = RecordKind::kEvent, .time = event.time, .event = event});
        });
    }

    void Send(const std::string& bytes) {
        port_.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        const cport::LineTime time = port_.LastWriteTimes().first;
        timed_->Sent(bytes, time);
        records.push_back({.kind = RecordKind::kSent, .time = time, .bytes = bytes});
    }

    // Ends both captures: their files are complete.
    void End() {
        timed_.reset();
        raw_.reset();
    }

    std::vector<CaptureRecord> records;
    std::string received;

  private:
    cport::TComPort& port_;
    std::unique_ptr<CaptureWriter> timed_;
    std::unique_ptr<CaptureWriter> raw_;
};

}  // namespace tarvik::capture::test
