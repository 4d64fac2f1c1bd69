#include "app/capture_view.h"

#include <vector>

#include "codec/received_check.h"
#include "capture/capture_load.h"
#include "codec/fun.h"
#include "serial/device/time_line.h"
#include "timeline/log_marks.h"

namespace tarvik {

namespace {

// A line to be: its time and mark already written (the time in front may
// depend on the line before), a block's bytes still raw. Most lines of a
// long capture leave again before the end, so only those kept are put in
// the display form.
struct PendingLine {
    Text head;
    std::string bytes;
    bool block = false;
    TLineKind kind = TLineKind::Plain;  // Plain for a received block until checked
};

// Gathers the lines, each with the number of the first record in it, and
// lets the oldest go once more than `cap` are held.
class LineKeeper {
  public:
    LineKeeper(CaptureView& view, std::size_t cap) : view_(view), cap_(cap) {}

    void Add(PendingLine line, std::size_t fromRecord) {
        lines_.push_back(std::move(line));
        from_.push_back(fromRecord);
        if (lines_.size() > cap_) {
            lines_.pop_front();
            from_.pop_front();
            view_.recordsLeftOut = from_.front() - 1;
        }
    }

    void Finish(const CaptureViewOptions& options) {
        for (PendingLine& line : lines_) {
            CaptureView::Shown shown;
            if (line.block) {
                shown.at = line.head.size();
                line.head += options.textForm ? fun::BytesToText(line.bytes)
                                              : fun::BytesToDisplay(line.bytes, options.ascii);
                shown.length = line.head.size() - shown.at;
                line.head += " (" + std::to_string(line.bytes.size()) + ")";
                // A capture shown is checked as the live line would be.
                if (line.kind == TLineKind::Plain && options.check != nullptr) {
                    TReceivedCheck checked = CheckReceived(*options.check, line.bytes);
                    line.head += checked.mark;
                    line.kind = checked.verdict;
                }
            }
            if (line.block)
                shown.bytes = std::move(line.bytes);
            view_.lines.push_back(std::move(line.head));
            view_.kinds.push_back(line.kind);
            view_.shown.push_back(std::move(shown));
        }
        lines_.clear();
    }

  private:
    CaptureView& view_;
    std::size_t cap_;
    std::deque<PendingLine> lines_;
    std::deque<std::size_t> from_;
};

}  // namespace

CaptureView ViewCapture(const std::string& path, const CaptureViewOptions& options,
                        std::size_t cap) {
    CaptureView view;
    LineKeeper keeper(view, cap);
    timeline::Framer framer(options.rule);
    const bool perArrival = options.rule.kind == timeline::FramingKind::PerArrival;
    bool first = true;
    std::int64_t startUs = 0;
    std::int64_t previousUs = 0;
    std::int64_t wallOffsetUs = 0;  // wall minus monotonic, of the latest record
    std::size_t number = 0;         // of the record being read, from 1
    std::size_t framedFrom = 0;     // of the first record in the framer's message
    const auto stamp = [&](std::int64_t monoUs) -> Text {
        if (options.timestamps == timeline::TimestampMode::Off)
            return {};
        Text text = timeline::FormatTimestamp(options.timestamps,
                                              {monoUs, monoUs + wallOffsetUs}, previousUs, startUs);
        previousUs = monoUs;
        return text;
    };
    std::vector<timeline::Message> messages;
    // The first message of `messages` began at `from`, every later one at this record.
    const auto add = [&](std::size_t from) {
        for (timeline::Message& message : messages) {
            keeper.Add({stamp(message.firstUs), std::move(message.bytes), true}, from);
            from = number;
        }
        messages.clear();
    };
    capture::CaptureFile file(path);
    file.ForEach([&](capture::CaptureRecord&& record) {
        ++number;
        if (first) {
            startUs = previousUs = record.time.monoUs;
            first = false;
        }
        wallOffsetUs = record.time.wallUs - record.time.monoUs;
        const std::int64_t at = record.time.monoUs;
        switch (record.kind) {
            case capture::RecordKind::kReceived: {
                if (perArrival) {
                    messages.push_back({std::move(record.bytes), at, at});
                    add(number);
                    return;
                }
                const std::size_t from = framer.Pending() ? framedFrom : number;
                framer.Add({record.bytes, at, at}, messages);
                if (framer.Pending())
                    framedFrom = messages.empty() ? from : number;
                add(from);
                return;
            }
            case capture::RecordKind::kSent:
                if (!options.logSent)
                    return;
                framer.Close(messages);  // a send ends the answer gathered so far
                add(framedFrom);
                keeper.Add({stamp(at) + Text(timeline::kSentMark), std::move(record.bytes), true,
                            TLineKind::Sent},
                           number);
                return;
            case capture::RecordKind::kEvent: {
                if (!options.logEvents)
                    return;
                Text what = cport::LineEventName(record.event.kind);
                if (record.event.kind <= cport::LineEventKind::kRing)  // the modem lines
                    what += record.event.state ? " on" : " off";
                else if (record.event.count != 0)
                    what.append(" ").append(std::to_string(record.event.count));
                keeper.Add({stamp(at) + Text(timeline::kEventMark) + what, {}, false, TLineKind::Event},
                           number);
                return;
            }
        }
    });
    framer.Close(messages);
    add(framedFrom);
    keeper.Finish(options);
    view.warning = file.Warning();
    return view;
}

}  // namespace tarvik
