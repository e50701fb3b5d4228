#include "comport/port.h"

#include "common/observer_wants_bytes.h"

#include <algorithm>
#include <memory>

namespace comport {

// ---- Firing: each calls its event, if assigned, with the port as Sender ----

void TCustomComPort::FireAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::FireAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::FireBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::FireBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::FireRxChar(std::int32_t Count) {
  if (OnRxChar) OnRxChar(this, Count);
}
void TCustomComPort::FireRxBuf(const std::uint8_t* Buffer, std::int32_t Count) {
  if (OnRxBuf) OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::FireTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::FireBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::FireRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::FireRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::FireCTSChange(bool OnOff) {
  if (OnCTSChange) OnCTSChange(this, OnOff);
}
void TCustomComPort::FireDSRChange(bool OnOff) {
  if (OnDSRChange) OnDSRChange(this, OnOff);
}
void TCustomComPort::FireError(TComErrors Errors) {
  if (OnError) OnError(this, Errors);
}
void TCustomComPort::FireRLSDChange(bool OnOff) {
  if (OnRLSDChange) OnRLSDChange(this, OnOff);
}
void TCustomComPort::FireRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

// ---- Line events ----

void TCustomComPort::HandleError() {
  const TComErrors errors = ClearLineErrors();
  if (!errors.Empty()) FireError(errors);
}

// Bytes are announced once: by count through OnRxChar (left in the queue), or, when
// the port reads them itself, through OnRxBuf and the observers' BytesReceived.
void TCustomComPort::HandleRxChar() {
  const std::int32_t count = RxQueueCount();
  if (count <= 0) return;
  NotifyObservers(&PortObserver::RxActivity, true);
  if (!ReadForListeners(count)) FireRxChar(count);
}

// The port reads the bytes itself when a listener wants them; false leaves them to
// OnRxChar. One view of the list decides this and is walked, whatever registration
// does meanwhile.
bool TCustomComPort::ReadForListeners(std::int32_t count) {
  const ObserverList::Walk walk(observers_);
  const auto& observers = walk.Observers();
  if (announceRxCount_ && std::none_of(observers.begin(), observers.end(), WantsBytes)) {
    return false;
  }
  const auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count));
  // The listeners get what was actually read, never bytes the read did not fill.
  const std::int32_t received = Read(buffer.get(), count);
  FireRxBuf(buffer.get(), received);
  for (PortObserver* observer : observers) {
    if (WantsBytes(observer)) observer->BytesReceived(this, buffer.get(), received);
  }
  return true;
}

void TCustomComPort::HandleTxEmpty() {
  NotifyObservers(&PortObserver::TxActivity, false);
  NotifyObservers(&PortObserver::TxEmptied);
  FireTxEmpty();
}

void TCustomComPort::HandleBreak() {
  FireBreak();
}

void TCustomComPort::HandleRing() {
  NotifyObservers(&PortObserver::RingSeen);
  FireRing();
}

// Line states are read when the handling runs, not when the line changed.
void TCustomComPort::HandleCTSChange() {
  const bool onOff = ModemSignals().Contains(msCTS);
  NotifyObservers(&PortObserver::CtsChanged, onOff);
  FireCTSChange(onOff);
}

void TCustomComPort::HandleDSRChange() {
  const bool onOff = ModemSignals().Contains(msDSR);
  NotifyObservers(&PortObserver::DsrChanged, onOff);
  FireDSRChange(onOff);
}

void TCustomComPort::HandleRxFlag() {
  NotifyObservers(&PortObserver::RxFlagSeen);
  FireRxFlag();
}

void TCustomComPort::HandleRLSDChange() {
  const bool onOff = ModemSignals().Contains(msRLSD);
  NotifyObservers(&PortObserver::RlsdChanged, onOff);
  FireRLSDChange(onOff);
}

void TCustomComPort::HandleRx80Full() {
  FireRx80Full();
}

// ---- Open and close notifications ----

void TCustomComPort::HandleBeforeOpen() {
  FireBeforeOpen();
}

void TCustomComPort::HandleAfterOpen() {
  NotifyObservers(&PortObserver::ConnectionChanged, true);
  FireAfterOpen();
  // A handler that closed the port again has already reported every line off.
  if (connected_) ReportLineSignals(true);
}

void TCustomComPort::HandleBeforeClose() {
  ReportLineSignals(false);
  FireBeforeClose();
}

void TCustomComPort::HandleAfterClose() {
  NotifyObservers(&PortObserver::ConnectionChanged, false);
  FireAfterClose();
}

// Opening reports the present line states; closing reports every line off without
// asking the device.
void TCustomComPort::ReportLineSignals(bool Opening) {
  if (Opening) {
    HandleCTSChange();
    HandleDSRChange();
    HandleRLSDChange();
    return;
  }
  NotifyObservers(&PortObserver::CtsChanged, false);
  NotifyObservers(&PortObserver::DsrChanged, false);
  NotifyObservers(&PortObserver::RlsdChanged, false);
  FireCTSChange(false);
  FireDSRChange(false);
  FireRLSDChange(false);
}

}  // namespace comport
