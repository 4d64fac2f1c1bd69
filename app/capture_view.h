#pragma once
// A timed capture as the lines a receive log shows for it, with the log's
// options and the capture's own times. The file is read record by record and
// only the newest lines a log keeps are held, so a capture of any size costs
// no more than a full log. Main thread (the display form uses the codec).

#include <cstddef>
#include <deque>
#include <string>

#include "codec/line_kind.h"
#include "base/text.h"
#include "codec/check_value.h"
#include "timeline/framing.h"
#include "timeline/timestamp.h"

namespace tarvik {

struct CaptureViewOptions {
    timeline::TimestampMode timestamps = timeline::TimestampMode::Off;
    timeline::FramingRule rule;  // PerArrival: one line per received block
    bool logSent = false;
    bool logEvents = false;
    bool ascii = false;  // letters and digits as themselves
    bool textForm = false;  // the text view's form (fun::BytesToText) instead
    // Received lines end with this check's mark, as live ones do; null: none.
    const fun::TCheckValue* check = nullptr;
};

struct CaptureView {
    std::deque<Text> lines;           // oldest first, at most the cap
    std::deque<TLineKind> kinds;      // one per line
    // One per line: the bytes a block's line shows, from `at` on for
    // `length` characters; none (empty) for other lines.
    struct Shown {
        std::string bytes;
        std::size_t at = 0;
        std::size_t length = 0;
    };
    std::deque<Shown> shown;
    std::size_t recordsLeftOut = 0;   // records before the oldest line kept
    std::string warning;              // a torn last line, or ""
};

// Throws std::runtime_error naming the file (and the line where it breaks).
CaptureView ViewCapture(const std::string& path, const CaptureViewOptions& options,
                        std::size_t cap);

}  // namespace tarvik
