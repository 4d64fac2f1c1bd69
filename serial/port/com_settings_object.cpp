#include "serial/port/com_settings_object.h"

#include "serial/port/custom_com_port.h"

namespace cport {

EAssignError::EAssignError(const std::string& sourceClass, const std::string& targetClass)
    : std::runtime_error("Cannot assign a " + sourceClass + " to a " + targetClass) {}

void TComSettingsObject::FailAssign(const TComSettingsObject& source) const {
    throw EAssignError(source.ClassName(), ClassName());
}

void TComSettingsObject::ReapplyLineSettings() const {
    if (owner_ != nullptr)
        owner_->ReapplyDCB();
}

void TComSettingsObject::ReapplyTimeouts() const {
    if (owner_ != nullptr)
        owner_->ReapplyTimeouts();
}

void TComSettingsObject::ReapplyBuffer() const {
    if (owner_ != nullptr)
        owner_->ReapplyBuffer();
}

}  // namespace cport
