#include "comport/port.h"

namespace comport {

void TCustomComPort::AddObserver(PortObserver* observer) {
  if (observer) observers_.Add(observer);
}

void TCustomComPort::RemoveObserver(PortObserver* observer) {
  if (observer) observers_.Remove(observer);
}

bool TCustomComPort::BufferObserverPresent() const {
  return observers_.Any(
      [](const PortObserver& observer) { return static_cast<bool>(observer.BytesReceived); });
}

}  // namespace comport
