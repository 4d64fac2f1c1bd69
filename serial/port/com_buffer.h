#pragma once
// The driver's queue sizes of a port, in bytes. Every change re-applies the
// buffer sizes; InputSize also sets the XON/XOFF thresholds (a quarter of
// it), which follow at the next hand-over of the line settings.

#include <cstdint>

#include "serial/port/com_settings_object.h"

namespace cport {

class TComBuffer : public TComSettingsObject {
  public:
    explicit TComBuffer(TCustomComPort* owner = nullptr) : TComSettingsObject(owner) {}

    void Assign(const TComSettingsObject& source) override;
    const char* ClassName() const override { return "TComBuffer"; }

    // A positive odd size is stored one lower (1025 -> 1024); zero, even and
    // negative sizes are stored as given. The comparison that decides whether
    // anything happens is made with the stored value, before that rounding.
    std::int32_t InputSize() const { return inputSize_; }
    void SetInputSize(std::int32_t value);
    std::int32_t OutputSize() const { return outputSize_; }
    void SetOutputSize(std::int32_t value);

  private:
    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};

}  // namespace cport
