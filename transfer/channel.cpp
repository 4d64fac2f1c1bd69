#include "transfer/channel.h"

#include "transfer/transfer_error.h"

namespace tarvik::transfer {

namespace {
constexpr std::size_t kReadChunk = 16384;
constexpr char kCancelSequence[] = "\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b";
}  // namespace

Clock::time_point After(std::int64_t ms) { return Clock::now() + std::chrono::milliseconds(ms); }

Channel::Channel(Line& line, const std::atomic<bool>& cancel, ProgressHandler progress)
    : line_(line), cancel_(cancel), meter_(std::move(progress)) {}

void Channel::Write(std::string_view bytes) {
    CheckCancel();
    line_.Write(bytes);
}

void Channel::CheckCancel() const {
    if (cancel_.load())
        throw ETransfer(TransferCode::kCancelled, "Cancelled");
}

bool Channel::Fill(Clock::time_point deadline) {
    CheckCancel();
    if (taken_ > 0 && taken_ == buffer_.size()) {
        buffer_.clear();
        taken_ = 0;
    }
    const bool got = line_.Read(buffer_, kReadChunk, deadline) > 0;
    CheckCancel();
    return got;
}

std::optional<unsigned char> Channel::ReadByte(std::int64_t ms) {
    const auto deadline = After(ms);
    while (taken_ == buffer_.size()) {
        if (!Fill(deadline) && Clock::now() >= deadline)
            return std::nullopt;
    }
    return static_cast<unsigned char>(buffer_[taken_++]);
}

bool Channel::ReadBytes(std::string& into, std::size_t count, std::int64_t byteMs) {
    while (count > 0) {
        if (taken_ == buffer_.size()) {
            const auto deadline = After(byteMs);
            while (taken_ == buffer_.size())
                if (!Fill(deadline) && Clock::now() >= deadline)
                    return false;
        }
        const std::size_t n = std::min(count, buffer_.size() - taken_);
        into.append(buffer_, taken_, n);
        taken_ += n;
        count -= n;
    }
    return true;
}

void Channel::Purge(std::int64_t quietMs) {
    DropPending();
    for (;;) {
        const auto deadline = After(quietMs);
        bool heard = false;
        while (!heard && Clock::now() < deadline)
            heard = Fill(deadline);
        DropPending();
        if (!heard)
            return;
    }
}

void Channel::DropPending() {
    buffer_.clear();
    taken_ = 0;
}

void Channel::IdleUntil(Clock::time_point deadline) {
    for (;;) {
        if (taken_ < buffer_.size()) {
            heard_.append(buffer_, taken_);
            DropPending();
        }
        if (Clock::now() >= deadline)
            return;
        Fill(deadline);
    }
}

void Channel::Listen(Clock::time_point deadline) {
    if (taken_ == buffer_.size() && Clock::now() < deadline)
        Fill(deadline);
    heard_.append(buffer_, taken_);
    DropPending();
}

void Channel::SendCancel() noexcept {
    try {
        line_.Write(std::string_view(kCancelSequence, sizeof kCancelSequence - 1));
    } catch (...) {
        // The line is gone; the transfer ends with the reason it already has.
    }
}

}  // namespace tarvik::transfer
