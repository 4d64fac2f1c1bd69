#pragma once
// Time-outs of a port in milliseconds, in the order of the device's time-out
// record; -1 stands for the all-ones value (MAXDWORD). Every change
// re-applies the time-outs.

#include <cstdint>

#include "serial/port/com_settings_object.h"

namespace cport {

class TComTimeouts : public TComSettingsObject {
  public:
    explicit TComTimeouts(TCustomComPort* owner = nullptr) : TComSettingsObject(owner) {}

    void Assign(const TComSettingsObject& source) override;
    const char* ClassName() const override { return "TComTimeouts"; }

    std::int32_t ReadInterval() const { return readInterval_; }
    void SetReadInterval(std::int32_t value);
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    void SetReadTotalMultiplier(std::int32_t value);
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    void SetReadTotalConstant(std::int32_t value);
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    void SetWriteTotalMultiplier(std::int32_t value);
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetWriteTotalConstant(std::int32_t value);

  private:
    // With these read values a read returns at once with what has arrived.
    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

}  // namespace cport
