#include "serial/device/arrival_marks.h"

namespace cport::device {

void ArrivalMarks::Pushed(std::size_t count, const LineTime& time, const LineTime& earliest) {
    if (count == 0) {
        return;
    }
    pushed_ += count;
    // Reads of one wake-up share its time: one mark serves them all.
    if (!marks_.empty() && marks_.back().time == time) {
        marks_.back().end = pushed_;
    } else {
        marks_.push_back({pushed_, time, earliest});
    }
}

const ArrivalMarks::Mark* ArrivalMarks::MarkOf(std::uint64_t index) const {
    for (const Mark& mark : marks_) {
        if (index < mark.end) {
            return &mark;
        }
    }
    return nullptr;
}

void ArrivalMarks::Popped(std::size_t count, LineTime* first, LineTime* last,
                          LineTime* earliest) {
    *first = *last = LineTime{};
    if (earliest != nullptr) {
        *earliest = LineTime{};
    }
    if (count == 0) {
        return;
    }
    if (const Mark* mark = MarkOf(popped_)) {
        *first = mark->time;
        if (earliest != nullptr) {
            *earliest = mark->earliest;
        }
    }
    popped_ += count;
    if (const Mark* mark = MarkOf(popped_ - 1)) {
        *last = mark->time;
    }
    while (!marks_.empty() && marks_.front().end <= popped_) {
        marks_.pop_front();
    }
}

void ArrivalMarks::Clear() {
    marks_.clear();
    popped_ = pushed_;
}

}  // namespace cport::device
