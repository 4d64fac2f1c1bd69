#include "serial/port/com_timeouts.h"

namespace cport {

void TComTimeouts::Assign(const TComSettingsObject& source) {
    const auto* other = dynamic_cast<const TComTimeouts*>(&source);
    if (other == nullptr)
        FailAssign(source);
    readInterval_ = other->readInterval_;
    readTotalMultiplier_ = other->readTotalMultiplier_;
    readTotalConstant_ = other->readTotalConstant_;
    writeTotalMultiplier_ = other->writeTotalMultiplier_;
    writeTotalConstant_ = other->writeTotalConstant_;
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
    if (Store(readInterval_, value))
        ReapplyTimeouts();
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
    if (Store(readTotalMultiplier_, value))
        ReapplyTimeouts();
}

void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
    if (Store(readTotalConstant_, value))
        ReapplyTimeouts();
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
    if (Store(writeTotalMultiplier_, value))
        ReapplyTimeouts();
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
    if (Store(writeTotalConstant_, value))
        ReapplyTimeouts();
}

}  // namespace cport
