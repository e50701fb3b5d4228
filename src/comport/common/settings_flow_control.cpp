#include "comport/port.h"
#include "comport/settings.h"

#include "common/settings_copy.h"
#include "common/store_if_changed.h"

namespace comport {

void TComFlowControl::Changed() {
  if (ComPort()) ComPort()->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
    return fcHardware;
  }
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

// Presets touch only the four fields the derivation reads; the line is re-applied
// even when nothing changed (fcCustom included).
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
  Changed();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (StoreIfChanged(outCTSFlow_, value)) Changed();
}

void TComFlowControl::SetOutDSRFlow(bool value) {
  if (StoreIfChanged(outDSRFlow_, value)) Changed();
}

void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (StoreIfChanged(controlDTR_, value)) Changed();
}

void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (StoreIfChanged(controlRTS_, value)) Changed();
}

void TComFlowControl::SetXonXoffOut(bool value) {
  if (StoreIfChanged(xonXoffOut_, value)) Changed();
}

void TComFlowControl::SetXonXoffIn(bool value) {
  if (StoreIfChanged(xonXoffIn_, value)) Changed();
}

void TComFlowControl::SetDSRSensitivity(bool value) {
  if (StoreIfChanged(dsrSensitivity_, value)) Changed();
}

void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (StoreIfChanged(txContinueOnXoff_, value)) Changed();
}

void TComFlowControl::SetXonChar(char value) {
  if (StoreIfChanged(xonChar_, value)) Changed();
}

void TComFlowControl::SetXoffChar(char value) {
  if (StoreIfChanged(xoffChar_, value)) Changed();
}

void TComFlowControl::CopyFields(const TComSettings& source) {
  const TComFlowControl& from = SameClassSource(source, *this);
  outCTSFlow_ = from.outCTSFlow_;
  outDSRFlow_ = from.outDSRFlow_;
  controlDTR_ = from.controlDTR_;
  controlRTS_ = from.controlRTS_;
  xonXoffOut_ = from.xonXoffOut_;
  xonXoffIn_ = from.xonXoffIn_;
  dsrSensitivity_ = from.dsrSensitivity_;
  txContinueOnXoff_ = from.txContinueOnXoff_;
  xonChar_ = from.xonChar_;
  xoffChar_ = from.xoffChar_;
}

}  // namespace comport
