#include "serial/port/com_flow_control.h"

namespace cport {

void TComFlowControl::Assign(const TComSettingsObject& source) {
    const auto* other = dynamic_cast<const TComFlowControl*>(&source);
    if (other == nullptr)
        FailAssign(source);
    outCTSFlow_ = other->outCTSFlow_;
    outDSRFlow_ = other->outDSRFlow_;
    controlDTR_ = other->controlDTR_;
    controlRTS_ = other->controlRTS_;
    xonXoffOut_ = other->xonXoffOut_;
    xonXoffIn_ = other->xonXoffIn_;
    dsrSensitivity_ = other->dsrSensitivity_;
    txContinueOnXoff_ = other->txContinueOnXoff_;
    xonChar_ = other->xonChar_;
    xoffChar_ = other->xoffChar_;
}

void TComFlowControl::SetOutCTSFlow(bool value) {
    if (Store(outCTSFlow_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetOutDSRFlow(bool value) {
    if (Store(outDSRFlow_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
    if (Store(controlDTR_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
    if (Store(controlRTS_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetXonXoffOut(bool value) {
    if (Store(xonXoffOut_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetXonXoffIn(bool value) {
    if (Store(xonXoffIn_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetDSRSensitivity(bool value) {
    if (Store(dsrSensitivity_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetTxContinueOnXoff(bool value) {
    if (Store(txContinueOnXoff_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetXonChar(char value) {
    if (Store(xonChar_, value))
        ReapplyLineSettings();
}

void TComFlowControl::SetXoffChar(char value) {
    if (Store(xoffChar_, value))
        ReapplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
        return fcHardware;
    }
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_)
        return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    ReapplyLineSettings();
}

}  // namespace cport
