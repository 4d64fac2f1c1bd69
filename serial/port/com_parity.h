#pragma once
// Parity settings of a port; every change re-applies the line settings.

#include "serial/port/com_settings_object.h"
#include "serial/port/com_types.h"

namespace cport {

class TComParity : public TComSettingsObject {
  public:
    explicit TComParity(TCustomComPort* owner = nullptr) : TComSettingsObject(owner) {}

    void Assign(const TComSettingsObject& source) override;
    const char* ClassName() const override { return "TComParity"; }

    TParityBits Bits() const { return bits_; }
    void SetBits(TParityBits value);
    // The driver checks the parity of received bytes.
    bool Check() const { return check_; }
    void SetCheck(bool value);
    // Bytes with a parity error become ReplaceChar; acts only with Check.
    bool Replace() const { return replace_; }
    void SetReplace(bool value);
    char ReplaceChar() const { return replaceChar_; }
    void SetReplaceChar(char value);

  private:
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = '\0';
};

}  // namespace cport
