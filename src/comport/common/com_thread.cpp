// TEMPORARY minimal event thread, so that Open and Close can create and free it at
// their final points. It sets the event mask, waits only for its stop request and
// runs the closing steps; it delivers no line events. To be replaced by the real
// event thread.
#include "comport/com_thread.h"

#include "comport/port.h"
#include "winapi/winapi.h"

#include <array>
#include <utility>

namespace comport {

namespace {

constexpr std::array<std::pair<TComEvent, DWORD>, 10> kEventFlags = {{
    {evRxChar, EV_RXCHAR},
    {evTxEmpty, EV_TXEMPTY},
    {evRxFlag, EV_RXFLAG},
    {evRing, EV_RING},
    {evBreak, EV_BREAK},
    {evCTS, EV_CTS},
    {evDSR, EV_DSR},
    {evError, EV_ERR},
    {evRLSD, EV_RLSD},
    {evRx80Full, EV_RX80FULL},
}};

}  // namespace

std::uint32_t EventsToMask(TComEvents Events) {
  std::uint32_t mask = 0;
  for (const auto& [event, flag] : kEventFlags) {
    if (Events.Contains(event)) mask |= flag;
  }
  return mask;
}

TComEvents MaskToEvents(std::uint32_t Mask) {
  TComEvents events;
  for (const auto& [event, flag] : kEventFlags) {
    if (Mask & flag) events.Include(event);
  }
  return events;
}

TComThread::TComThread(TCustomComPort& AComPort)
    : OwnerPort(AComPort), StopEvent(winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  SetPriority(OwnerPort.ThreadPriority());
  winapi::SetCommMask(OwnerPort.DeviceHandle(), EventsToMask(OwnerPort.Events()));
  Resume();
}

TComThread::~TComThread() {
  RequestStop();
  TerminateAndWait();
}

void TComThread::RequestStop() {
  winapi::SetEvent(StopEvent);
  winapi::Sleep(0);
}

void TComThread::Execute() {
  MonitorLoop();
}

void TComThread::MonitorLoop() {
  winapi::WaitForSingleObject(StopEvent, INFINITE);
  winapi::SetCommMask(OwnerPort.DeviceHandle(), 0);
  winapi::PurgeComm(OwnerPort.DeviceHandle(), PURGE_TXCLEAR | PURGE_RXCLEAR);
  winapi::CloseHandle(StopEvent);
}

}  // namespace comport
