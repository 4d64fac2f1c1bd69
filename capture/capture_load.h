#pragma once
// A timed capture read from its file, record by record: what it costs is
// bounded by one line (and, for LoadCapture, by a stated size), whatever
// the file is. Any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "base/bounded_file.h"
#include "capture/capture_format.h"
#include "capture/capture_record.h"

namespace tarvik::capture {

// What LoadCapture holds at most: a capture of a few hours of a busy line.
inline constexpr std::uint64_t kMaxLoadedCaptureBytes = 256u << 20;

class CaptureFile {
  public:
    // Opens the file (base/bounded_file.h: a folder or an unreadable file is
    // refused at once, a stream is waited on at most a second at a time).
    // `maxBytes` bounds the whole file. Throws std::runtime_error whose text
    // names the file.
    explicit CaptureFile(const std::string& path, std::uint64_t maxBytes = UINT64_MAX,
                         std::size_t maxLineBytes = kMaxCaptureLineBytes);

    // Hands every record to `record`, first to last. Throws std::runtime_error
    // "PATH: line N: ..." at the first line that is not a record, or naming
    // the file for what the bounded reader refuses.
    template <typename OnRecord>
    void ForEach(OnRecord&& record) {
        try {
            for (std::string_view piece = file_.Read(); !piece.empty(); piece = file_.Read())
                parser_.Feed(piece, record);
            warning_ = parser_.Finish();
        } catch (const ECaptureFormat& error) {
            Refuse(error);
        }
        if (!warning_.empty())
            warning_ = file_.FileName() + ": " + warning_;
    }

    // After ForEach: "PATH: line N: cut short ...; left out" for a torn last
    // line, or "".
    const std::string& Warning() const { return warning_; }

  private:
    [[noreturn]] void Refuse(const ECaptureFormat& error) const;

    BoundedFile file_;
    CaptureParser parser_;
    std::string warning_;
};

struct LoadedCapture {
    std::vector<CaptureRecord> records;
    std::string warning;  // CaptureFile::Warning()
};

// Every record of the timed capture at `path`, which may be no larger than
// `maxBytes`. Throws as CaptureFile does.
LoadedCapture LoadCapture(const std::string& path,
                          std::uint64_t maxBytes = kMaxLoadedCaptureBytes);

}  // namespace tarvik::capture
