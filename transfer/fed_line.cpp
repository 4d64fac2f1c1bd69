#include "transfer/fed_line.h"

#include <exception>

#include "transfer/transfer_error.h"

namespace tarvik::transfer {

void FedLine::Feed(std::string_view bytes) {
    if (bytes.empty())
        return;
    {
        const std::lock_guard lock(mutex_);
        pending_.append(bytes);
    }
    changed_.notify_all();
}

void FedLine::Lose(const std::string& why) {
    {
        const std::lock_guard lock(mutex_);
        if (!lost_)
            lost_ = why;
    }
    changed_.notify_all();
}

void FedLine::ThrowIfLost() const {
    if (lost_)
        throw ETransfer(TransferCode::kLine, *lost_);
}

void FedLine::Write(std::string_view bytes) {
    {
        const std::lock_guard lock(mutex_);
        ThrowIfLost();
    }
    try {
        writer_(bytes);
    } catch (const ETransfer&) {
        throw;
    } catch (const std::exception& error) {
        throw ETransfer(TransferCode::kLine, error.what());
    }
}

std::size_t FedLine::Read(std::string& into, std::size_t max, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline,
                        [this] { return interrupted_ || lost_ || taken_ < pending_.size(); });
    if (interrupted_)
        return 0;
    // What arrived before the loss is still read; then the loss is told.
    if (taken_ == pending_.size())
        ThrowIfLost();
    const std::size_t count = std::min(max, pending_.size() - taken_);
    into.append(pending_, taken_, count);
    taken_ += count;
    if (taken_ == pending_.size()) {
        pending_.clear();
        taken_ = 0;
    } else if (taken_ > pending_.size() / 2) {
        pending_.erase(0, taken_);
        taken_ = 0;
    }
    return count;
}

void FedLine::Interrupt() {
    {
        const std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

void FedLine::ClearInterrupt() {
    const std::lock_guard lock(mutex_);
    interrupted_ = false;
}

}  // namespace tarvik::transfer
