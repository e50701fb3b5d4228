#include "comport/com_thread.h"

#include "comport/port.h"
#include "runtime/main_thread.h"
#include "runtime/message_window.h"
#include "winapi/winapi.h"

#include <array>
#include <utility>

namespace comport {

namespace {

// Every event with its device flag, in the order an event set is handled: errors are
// fetched before the receive count, which clears them too.
constexpr std::array<std::pair<TComEvent, DWORD>, 10> kHandlingOrder = {{
    {evError, EV_ERR},
    {evRxChar, EV_RXCHAR},
    {evTxEmpty, EV_TXEMPTY},
    {evBreak, EV_BREAK},
    {evRing, EV_RING},
    {evCTS, EV_CTS},
    {evDSR, EV_DSR},
    {evRxFlag, EV_RXFLAG},
    {evRLSD, EV_RLSD},
    {evRx80Full, EV_RX80FULL},
}};

constexpr DWORD kDeviceEventSignalled = WAIT_OBJECT_0 + 1;
// How long the closing steps give a cleared wait to complete before the frame ends.
constexpr DWORD kPendingWaitDrainMs = 2000;

// The deliveries running on this thread, innermost first: a handler that processes
// messages may run another port's delivery inside its own.
struct DeliveryFrame {
  const TCustomComPort* port;
  const DeliveryFrame* outer;
};

thread_local const DeliveryFrame* innermostDelivery = nullptr;

class DeliveryScope {
 public:
  explicit DeliveryScope(const TCustomComPort& port) : frame_{&port, innermostDelivery} {
    innermostDelivery = &frame_;
  }
  ~DeliveryScope() { innermostDelivery = frame_.outer; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  const DeliveryFrame frame_;
};

}  // namespace

bool DeliveryRunningHere(const TCustomComPort& port) {
  for (const DeliveryFrame* frame = innermostDelivery; frame; frame = frame->outer) {
    if (frame->port == &port) return true;
  }
  return false;
}

std::uint32_t EventsToMask(TComEvents Events) {
  std::uint32_t mask = 0;
  for (const auto& [event, flag] : kHandlingOrder) {
    if (Events.Contains(event)) mask |= flag;
  }
  return mask;
}

TComEvents MaskToEvents(std::uint32_t Mask) {
  TComEvents events;
  for (const auto& [event, flag] : kHandlingOrder) {
    if (Mask & flag) events.Include(event);
  }
  return events;
}

TComThread::TComThread(TCustomComPort& AComPort)
    : OwnerPort(AComPort), StopEvent(winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  SetPriority(OwnerPort.ThreadPriority());
  winapi::SetCommMask(OwnerPort.DeviceHandle(), EventsToMask(OwnerPort.Events()));
  try {
    Resume();
  } catch (...) {
    winapi::CloseHandle(StopEvent);
    throw;
  }
}

// The stop event outlives the thread: a loop that ended on its own (failed wait,
// failed delivery) must not leave this destructor signalling a closed handle.
TComThread::~TComThread() {
  RequestStop();
  TerminateAndWait();
  winapi::CloseHandle(StopEvent);
}

void TComThread::RequestStop() {
  winapi::SetEvent(StopEvent);
  winapi::Sleep(0);
}

void TComThread::Execute() {
  MonitorLoop();
}

void TComThread::MonitorLoop() {
  const HANDLE device = OwnerPort.DeviceHandle();
  OVERLAPPED overlapped{};
  overlapped.hEvent = winapi::CreateEventA(nullptr, TRUE, TRUE, nullptr);

  // However the loop ends (stop, failed wait, exception from a delivery), the device
  // lets go of the mask variable and the record before they leave this frame.
  // A wait still pending when the loop ends is completed by clearing the mask, but the
  // system may write the mask variable a moment later: wait for that completion (bounded,
  // in case the device is gone) before the variable leaves this frame.
  bool waitPending = false;
  struct ClosingSteps {
    HANDLE device;
    HANDLE overlappedEvent;
    const bool& waitPending;
    ~ClosingSteps() {
      winapi::SetCommMask(device, 0);
      if (waitPending) winapi::WaitForSingleObject(overlappedEvent, kPendingWaitDrainMs);
      winapi::PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
      winapi::CloseHandle(overlappedEvent);
    }
  } closing{device, overlapped.hEvent, waitPending};

  const std::array<HANDLE, 2> waitList = {StopEvent, overlapped.hEvent};
  DWORD mask = 0;
  DWORD signalled;
  do {
    // A wait that could not even start (device gone, mask refused) leaves the
    // overlapped event as it was: waiting on it would spin or deliver an old set.
    if (!winapi::WaitCommEvent(device, &mask, &overlapped)) {
      if (winapi::GetLastError() != ERROR_IO_PENDING) return;
      waitPending = true;
    }
    signalled = winapi::WaitForMultipleObjects(static_cast<DWORD>(waitList.size()), waitList.data(),
                                               FALSE, INFINITE);
    DWORD transferred = 0;
    if (signalled == kDeviceEventSignalled) waitPending = false;
    if (signalled == kDeviceEventSignalled &&
        winapi::GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
      CurrentEvents = MaskToEvents(mask);
      DeliverEvents();
    }
  } while (signalled == kDeviceEventSignalled);  // a stop request wins a tie: it is first
}

void TComThread::DeliverEvents() {
  switch (OwnerPort.SyncMethod()) {
    case smThreadSync:
      runtime::RunOnMainThread([this] { HandleEventSet(); });
      break;
    case smWindowSync:
      ForwardEventsToWindow();
      break;
    case smNone:
      HandleEventSet();
      break;
    case smDisableEvents:
      break;
  }
}

// One message per event; each send returns once the window's handler has replied.
void TComThread::ForwardEventsToWindow() {
  const HWND window = OwnerPort.EventWindow();
  for (const auto& [event, flag] : kHandlingOrder) {
    if (CurrentEvents.Contains(event)) {
      runtime::SendMessageA(window, PortEventMessage, flag, 0);
    }
  }
}

void TComThread::HandleEventSet() {
  TCustomComPort& port = OwnerPort;
  const DeliveryScope delivery(port);
  const TComEvents events = CurrentEvents;
  if (events.Contains(evError)) port.HandleError();
  if (events.Contains(evRxChar)) port.HandleRxChar();
  if (events.Contains(evTxEmpty)) port.HandleTxEmpty();
  if (events.Contains(evBreak)) port.HandleBreak();
  if (events.Contains(evRing)) port.HandleRing();
  if (events.Contains(evCTS)) port.HandleCTSChange();
  if (events.Contains(evDSR)) port.HandleDSRChange();
  if (events.Contains(evRxFlag)) port.HandleRxFlag();
  if (events.Contains(evRLSD)) port.HandleRLSDChange();
  if (events.Contains(evRx80Full)) port.HandleRx80Full();
}

}  // namespace comport
