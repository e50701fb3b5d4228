#include "comport/port.h"

#include "common/store_if_changed.h"

namespace comport {

void TCustomComPort::SetConnected(bool value) {
  if (value == connected_) return;
  if (Loading()) {
    connected_ = value;  // EndLoading makes the recorded wish real
    return;
  }
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  // Refused before the name changes, so the open port keeps the name it has.
  if (connected_ && !Loading()) RefuseCloseInOwnDelivery();
  port_ = value;
  if (connected_ && !Loading()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (StoreIfChanged(baudRate_, value)) ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  if (StoreIfChanged(customBaudRate_, value)) ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (StoreIfChanged(dataBits_, value)) ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (StoreIfChanged(stopBits_, value)) ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (StoreIfChanged(discardNull_, value)) ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
  if (StoreIfChanged(eventChar_, value)) ApplyLineSettings();
}

// The event thread reads the method for every delivery, so it may not change under it.
void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !Loading()) throw EComPort(port_, 14);
  syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_->CopyFrom(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_->CopyFrom(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_->CopyFrom(&value);
  ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_->CopyFrom(&value);
  ApplyBufferSizes();
}

}  // namespace comport
