#include "serial/port/com_parity.h"

namespace cport {

void TComParity::Assign(const TComSettingsObject& source) {
    const auto* other = dynamic_cast<const TComParity*>(&source);
    if (other == nullptr)
        FailAssign(source);
    bits_ = other->bits_;
    check_ = other->check_;
    replace_ = other->replace_;
    replaceChar_ = other->replaceChar_;
}

void TComParity::SetBits(TParityBits value) {
    if (Store(bits_, value))
        ReapplyLineSettings();
}

void TComParity::SetCheck(bool value) {
    if (Store(check_, value))
        ReapplyLineSettings();
}

void TComParity::SetReplace(bool value) {
    if (Store(replace_, value))
        ReapplyLineSettings();
}

void TComParity::SetReplaceChar(char value) {
    if (Store(replaceChar_, value))
        ReapplyLineSettings();
}

}  // namespace cport
