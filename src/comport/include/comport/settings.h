// The port's settings objects. Each keeps a non-owning back-reference to the port
// that owns it; a setter stores the value and asks that port to re-apply its group.
#pragma once

#include "comport/component.h"
#include "comport/types.h"

#include <cstdint>

namespace comport {

class TCustomComPort;

// Base of the four settings objects: the back-reference and the copy entry point.
class TComSettings : public TPersistent {
 public:
  TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(TCustomComPort* port) { comPort_ = port; }

  // Copies every field of `source` without applying anything. Refuses a source of
  // another class (or none) with "Cannot assign a <source> to a <target>".
  void CopyFrom(const TPersistent* source);

 protected:
  virtual void CopyFields(const TComSettings& source) = 0;

 private:
  TCustomComPort* comPort_ = nullptr;
};

// Device time-outs in milliseconds.
class TComTimeouts : public TComSettings {
 public:
  std::string ClassName() const override { return "TComTimeouts"; }

  std::int32_t ReadInterval() const { return readInterval_; }
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(std::int32_t value);
  void SetReadTotalMultiplier(std::int32_t value);
  void SetReadTotalConstant(std::int32_t value);
  void SetWriteTotalMultiplier(std::int32_t value);
  void SetWriteTotalConstant(std::int32_t value);

 protected:
  void CopyFields(const TComSettings& source) override;

 private:
  void Changed();
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

// Handshaking. FlowControl is derived from four of the fields, not stored.
class TComFlowControl : public TComSettings {
 public:
  std::string ClassName() const override { return "TComFlowControl"; }

  bool OutCTSFlow() const { return outCTSFlow_; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  char XonChar() const { return xonChar_; }
  char XoffChar() const { return xoffChar_; }
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);
  void SetFlowControl(TFlowControl value);

 protected:
  void CopyFields(const TComSettings& source) override;

 private:
  void Changed();
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

class TComParity : public TComSettings {
 public:
  std::string ClassName() const override { return "TComParity"; }

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

 protected:
  void CopyFields(const TComSettings& source) override;

 private:
  void Changed();
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

// Driver queue sizes in bytes. Odd positive sizes are rounded down to even.
class TComBuffer : public TComSettings {
 public:
  std::string ClassName() const override { return "TComBuffer"; }

  std::int32_t InputSize() const { return inputSize_; }
  std::int32_t OutputSize() const { return outputSize_; }
  void SetInputSize(std::int32_t value);
  void SetOutputSize(std::int32_t value);

 protected:
  void CopyFields(const TComSettings& source) override;

 private:
  void Changed();
  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
};

}  // namespace comport
