#include "serial/device/arrival_marks.h"

namespace cport::device {

void ArrivalMarks::Pushed(std::size_t count, const LineTime& time) {
    if (count == 0) {
        return;
    }
    pushed_ += count;
    // Reads of one wake-up share its time: one mark serves them all.
    if (!marks_.empty() && marks_.back().time == time) {
        marks_.back().end = pushed_;
    } else {
        marks_.push_back({pushed_, time});
    }
}

const LineTime& ArrivalMarks::TimeOf(std::uint64_t index) const {
    for (const Mark& mark : marks_) {
        if (index < mark.end) {
            return mark.time;
        }
    }
    static const LineTime kNone;
    return kNone;
}

void ArrivalMarks::Popped(std::size_t count, LineTime* first, LineTime* last) {
    *first = *last = LineTime{};
    if (count == 0) {
        return;
    }
    *first = TimeOf(popped_);
    popped_ += count;
    *last = TimeOf(popped_ - 1);
    while (!marks_.empty() && marks_.front().end <= popped_) {
        marks_.pop_front();
    }
}

void ArrivalMarks::Clear() {
    marks_.clear();
    popped_ = pushed_;
}

}  // namespace cport::device
