#include "comport/port.h"

#include "common/observer_wants_bytes.h"

#include <algorithm>

namespace comport {

void TCustomComPort::AddObserver(PortObserver* observer) {
  if (observer) observers_.Add(observer);
}

void TCustomComPort::RemoveObserver(PortObserver* observer) {
  if (observer) observers_.Remove(observer);
}

bool TCustomComPort::BufferObserverPresent() const {
  const ObserverList::Walk walk(observers_);
  const auto& observers = walk.Observers();
  return std::any_of(observers.begin(), observers.end(), WantsBytes);
}

}  // namespace comport
