#include "serial/port/com_buffer.h"

namespace cport {

namespace {

std::int32_t EvenSize(std::int32_t value) {
    return value > 0 && value % 2 != 0 ? value - 1 : value;
}

}  // namespace

void TComBuffer::Assign(const TComSettingsObject& source) {
    const auto* other = dynamic_cast<const TComBuffer*>(&source);
    if (other == nullptr)
        FailAssign(source);
    inputSize_ = other->inputSize_;
    outputSize_ = other->outputSize_;
}

void TComBuffer::SetInputSize(std::int32_t value) {
    if (!Store(inputSize_, value))
        return;
    inputSize_ = EvenSize(inputSize_);
    ReapplyBuffer();
}

void TComBuffer::SetOutputSize(std::int32_t value) {
    if (!Store(outputSize_, value))
        return;
    outputSize_ = EvenSize(outputSize_);
    ReapplyBuffer();
}

}  // namespace cport
