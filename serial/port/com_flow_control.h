#pragma once
// Flow-control settings of a port; every change re-applies the line settings.

#include "serial/port/com_settings_object.h"
#include "serial/port/com_types.h"

namespace cport {

class TComFlowControl : public TComSettingsObject {
  public:
    explicit TComFlowControl(TCustomComPort* owner = nullptr) : TComSettingsObject(owner) {}

    // Copies all ten stored fields.
    void Assign(const TComSettingsObject& source) override;
    const char* ClassName() const override { return "TComFlowControl"; }

    // Output waits for CTS / for DSR.
    bool OutCTSFlow() const { return outCTSFlow_; }
    void SetOutCTSFlow(bool value);
    bool OutDSRFlow() const { return outDSRFlow_; }
    void SetOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    void SetControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    void SetControlRTS(TRTSFlowControl value);
    // Output obeys XON/XOFF from the peer.
    bool XonXoffOut() const { return xonXoffOut_; }
    void SetXonXoffOut(bool value);
    // The driver sends XON/XOFF as its input queue fills and drains.
    bool XonXoffIn() const { return xonXoffIn_; }
    void SetXonXoffIn(bool value);
    // Received bytes are ignored while DSR is off.
    bool DSRSensitivity() const { return dsrSensitivity_; }
    void SetDSRSensitivity(bool value);
    // Output goes on after the driver has sent XOFF.
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetTxContinueOnXoff(bool value);
    char XonChar() const { return xonChar_; }
    void SetXonChar(char value);
    char XoffChar() const { return xoffChar_; }
    void SetXoffChar(char value);

    // The preset the fields ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut
    // describe; fcCustom when they match none.
    TFlowControl FlowControl() const;
    // Sets those four fields for the preset (fcCustom changes none) and
    // always re-applies the line settings, even when nothing changed.
    void SetFlowControl(TFlowControl value);

  private:
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 0x11;
    char xoffChar_ = 0x13;
};

}  // namespace cport
