// The event thread of an open port and the mapping between event sets and the
// device's event mask.
#pragma once

#include "comport/types.h"
#include "runtime/thread.h"
#include "winapi/types.h"

#include <cstdint>

namespace comport {

class TCustomComPort;

std::uint32_t EventsToMask(TComEvents Events);
TComEvents MaskToEvents(std::uint32_t Mask);

// True while this thread runs a delivery of `port` handed over by its event thread
// (smThreadSync or smNone), also from deeper inside when a handler processes messages
// and so runs other work within the delivery. That event thread waits for (or is) the
// delivery, so nothing may wait for it to end from here.
bool DeliveryRunningHere(const TCustomComPort& port);

// Hidden-window message that carries one line event (its EV_ flag in the first parameter).
inline constexpr UINT PortEventMessage = WM_USER + 1;

class TComThread : public runtime::Thread {
 public:
  // Sets the device's event mask from the port's Events and starts watching.
  explicit TComThread(TCustomComPort& AComPort);
  // Asks the thread to stop and returns once it has ended.
  ~TComThread() override;

  void RequestStop();

 protected:
  void Execute() override;

 private:
  void MonitorLoop();
  void DeliverEvents();
  void ForwardEventsToWindow();
  void HandleEventSet();

  TCustomComPort& OwnerPort;
  HANDLE StopEvent;
  TComEvents CurrentEvents;
};

}  // namespace comport
