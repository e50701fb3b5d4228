// The serial port component: TCustomComPort holds all behaviour, TComPort publishes it.
//
// Where TCustomComPort's members live (src/comport/common/):
//   port_lifecycle.cpp    the constructor, Open, Close, OpenDevice, CloseDevice, EndLoading,
//                         the refusal to close from inside the port's own delivery
//   port_settings.cpp     every property setter (SetPort, SetBaudRate, ..., SetConnected)
//   port_line_config.cpp  ApplySettings and its groups (buffers, DCB, time-outs), AbortPendingIO
//   port_transfer.cpp     Read, Write, the overlapped Begin/Wait pairs, queue counts, ModemSignals
//   port_monitor.cpp      StartMonitor, StopMonitor (the event thread, the hidden window)
//   com_thread.cpp        TComThread: the wait for line events and their hand-over
//   port_events.cpp       HandleX and FireX for every event, the line-signal report
//   port_window_proc.cpp  PortWindowProc (delivery through the hidden window)
//   port_observers.cpp    AddObserver, RemoveObserver
//   port_persistence.cpp  the registry and INI reads and writes, driven by one table
#pragma once

#include "comport/async_op.h"
#include "comport/component.h"
#include "comport/errors.h"
#include "comport/events.h"
#include "comport/observer_list.h"
#include "comport/settings.h"
#include "comport/types.h"
#include "winapi/types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace runtime {
struct Message;
}

namespace comport {

class TComThread;
class TIniStore;
class TRegistryStore;

class TCustomComPort : public TComponent {
 public:
  explicit TCustomComPort(TComponent* AOwner);
  ~TCustomComPort() override;

  std::string ClassName() const override { return "TCustomComPort"; }

  // ---- Settings ----
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);

  // The port's own settings objects; the setters copy from the given object, then apply.
  TComParity& Parity() const { return *parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() const { return *flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() const { return *timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() const { return *buffer_; }
  void SetBuffer(const TComBuffer& value);

  TSettingGroups StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TSettingGroups value) { storedGroups_ = value; }

  // ---- Events ----
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnRx80Full;

  // ---- Run-time state ----
  HANDLE DeviceHandle() const { return deviceHandle_; }
  bool HasMonitor() const { return hasMonitor_; }
  HWND EventWindow() const { return eventWindow_; }
  bool AnnounceRxCount() const { return announceRxCount_; }
  // True exactly while some registered observer has a BytesReceived callback.
  bool BufferObserverPresent() const;

  // Observers, safe to register from any thread while notifications run: a walk keeps
  // the list it began with, so a record added meanwhile is called from the next walk
  // on, and one removed is still called by walks already running. RemoveObserver made
  // outside a notification returns once no other thread's walk can call the record
  // (see ObserverList::Remove). The records are not owned.
  void AddObserver(PortObserver* observer);
  void RemoveObserver(PortObserver* observer);
  std::vector<PortObserver*> Observers() const { return observers_.Current(); }

  // ---- Persistence ----
  virtual void WriteSettingsToRegistry(TRegistryStore& Store);
  virtual void WriteSettingsToIni(TIniStore& Store);
  virtual void ReadSettingsFromRegistry(TRegistryStore& Store);
  virtual void ReadSettingsFromIni(TIniStore& Store);

  // ---- Lifecycle and line configuration ----
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplySettings();
  void Open();
  void Close();
  void EndLoading() override;
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();
  void AbortPendingIO();

  // ---- Data transfer and line status ----
  std::int32_t Write(const void* Buffer, std::int32_t Count);
  std::int32_t Read(void* Buffer, std::int32_t Count);
  std::int32_t BeginWrite(const void* Buffer, std::int32_t Count, AsyncOp* Op);
  std::int32_t BeginRead(void* Buffer, std::int32_t Count, AsyncOp* Op);
  std::int32_t WaitAsync(AsyncOp* Op);
  std::unique_ptr<AsyncOp> CreateAsyncOp();
  void DestroyAsyncOp(std::unique_ptr<AsyncOp>& Op);
  void StageWriteData(TAsyncDirection Direction, const void* Buffer, std::int32_t Count,
                      AsyncOp* Op);
  std::int32_t RxQueueCount();
  TModemSignals ModemSignals();
  TComErrors ClearLineErrors();

  // ---- Event handling (called by the event delivery) ----
  void HandleRxChar();
  void HandleTxEmpty();
  void HandleRxFlag();
  void HandleRing();
  void HandleBreak();
  void HandleCTSChange();
  void HandleDSRChange();
  void HandleRLSDChange();
  void HandleError();
  void HandleRx80Full();
  void HandleBeforeOpen();
  void HandleAfterOpen();
  void HandleBeforeClose();
  void HandleAfterClose();
  void ReportLineSignals(bool Opening);

  // Handler of the hidden window that receives events with window delivery.
  void PortWindowProc(runtime::Message& Message);

 protected:
  // One overridable firing method per event; each calls its event if assigned.
  virtual void FireAfterClose();
  virtual void FireAfterOpen();
  virtual void FireBeforeClose();
  virtual void FireBeforeOpen();
  virtual void FireRxChar(std::int32_t Count);
  virtual void FireRxBuf(const std::uint8_t* Buffer, std::int32_t Count);
  virtual void FireTxEmpty();
  virtual void FireBreak();
  virtual void FireRing();
  virtual void FireRxFlag();
  virtual void FireCTSChange(bool OnOff);
  virtual void FireDSRChange(bool OnOff);
  virtual void FireError(TComErrors Errors);
  virtual void FireRLSDChange(bool OnOff);
  virtual void FireRx80Full();

  // Calls `callback` of every observer that has it, with this port as Sender.
  template <typename Callback, typename... Args>
  void NotifyObservers(Callback PortObserver::*callback, Args... args);

  int ThreadPriority() const { return threadPriority_; }

 private:
  friend class TComThread;
  void StartMonitor();
  void StopMonitor();
  void RefuseCloseInOwnDelivery() const;
  bool StartRead(void* Buffer, std::int32_t Count, AsyncOp& Op, std::int32_t& Immediate);
  bool ReadForListeners(std::int32_t count);

  bool connected_ = false;
  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = AllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  TSettingGroups storedGroups_{sgConnection};

  std::unique_ptr<TComParity> parity_;
  std::unique_ptr<TComFlowControl> flowControl_;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<TComBuffer> buffer_;

  HANDLE deviceHandle_;
  std::unique_ptr<TComThread> monitorThread_;
  bool hasMonitor_ = false;
  HWND eventWindow_ = nullptr;
  int threadPriority_;
  bool announceRxCount_ = true;

  // With smNone the event thread's handlers walk it while the owner's transfers and
  // registrations use it.
  ObserverList observers_;
};

template <typename Callback, typename... Args>
void TCustomComPort::NotifyObservers(Callback PortObserver::*callback, Args... args) {
  const ObserverList::Walk walk(observers_);
  for (PortObserver* observer : walk.Observers()) {
    const auto& fn = observer->*callback;
    if (fn) fn(this, args...);
  }
}

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
  std::string ClassName() const override { return "TComPort"; }
};

}  // namespace comport
