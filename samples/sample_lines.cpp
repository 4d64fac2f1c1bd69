#include "samples/sample_lines.h"

namespace samples {

SampleLines::SampleLines(std::size_t maxBytes) : maxBytes_(maxBytes == 0 ? 1 : maxBytes) {}

void SampleLines::Add(std::string_view bytes, cport::LineTime first, cport::LineTime last,
                      std::vector<SampleLine>& out) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t lf = bytes.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        const std::string_view piece = bytes.substr(at, end - at);
        if (!overlong_) {
            if (pending_.size() + piece.size() > maxBytes_) {
                overlong_ = true;
                pending_.clear();
            } else {
                pending_.append(piece);
            }
        }
        if (lf == std::string_view::npos) {
            pendingLast_ = bytes.size() == 1 ? first : last;
            return;
        }
        if (overlong_) {
            ++tooLong_;
            overlong_ = false;
        } else {
            out.push_back({std::move(pending_), lf == 0 ? first : last});
        }
        pending_.clear();
        at = lf + 1;
    }
}

void SampleLines::Close(std::vector<SampleLine>& out) {
    if (overlong_) {
        ++tooLong_;
    } else if (!pending_.empty()) {
        out.push_back({std::move(pending_), pendingLast_});
    }
    pending_.clear();
    overlong_ = false;
}

}  // namespace samples
