#include "serial/device/input_filter.h"

namespace cport::device {

void InputFilter::SetRules(const InputRules& rules) {
    if (rules.parityMarks != rules_.parityMarks) {
        state_ = State::kPlain;
    }
    rules_ = rules;
}

std::size_t InputFilter::Apply(std::uint8_t* data, std::size_t count) {
    std::size_t out = 0;
    auto emit = [&](std::uint8_t byte) {
        if (!(rules_.discardNull && byte == 0)) {
            data[out++] = byte;
        }
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (!rules_.parityMarks) {
            emit(b);
            continue;
        }
        switch (state_) {
            case State::kPlain:
                if (b == 0xFF) {
                    state_ = State::kAfterFF;
                } else {
                    emit(b);
                }
                break;
            case State::kAfterFF:
                if (b == 0x00) {
                    state_ = State::kAfterFF00;
                } else {
                    // 0xFF 0xFF is a real 0xFF. The kernel doubles every 0xFF
                    // while marking is on, so a lone one cannot occur.
                    emit(b);
                    state_ = State::kPlain;
                }
                break;
            case State::kAfterFF00:
                emit(rules_.replace ? rules_.replaceChar : b);
                state_ = State::kPlain;
                break;
        }
    }
    return out;
}

}  // namespace cport::device
