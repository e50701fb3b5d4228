#include "comport/port.h"

#include <algorithm>

namespace comport {

namespace {

void Apply(std::vector<PortObserver*>& list, PortObserver* observer, bool add) {
  const auto found = std::find(list.begin(), list.end(), observer);
  if (add && found == list.end()) list.push_back(observer);
  if (!add && found != list.end()) list.erase(found);
}

}  // namespace

// While a notification walks the list, changes wait until the walk is over.
void TCustomComPort::AddObserver(PortObserver* observer) {
  if (!observer) return;
  if (notifyDepth_ > 0) {
    pendingObserverChanges_.emplace_back(observer, true);
  } else {
    Apply(observers_, observer, true);
  }
}

void TCustomComPort::RemoveObserver(PortObserver* observer) {
  if (!observer) return;
  if (notifyDepth_ > 0) {
    pendingObserverChanges_.emplace_back(observer, false);
  } else {
    Apply(observers_, observer, false);
  }
}

void TCustomComPort::ApplyPendingObserverChanges() {
  if (pendingObserverChanges_.empty()) return;  // only reads, so walks may end together
  std::vector<std::pair<PortObserver*, bool>> changes;
  changes.swap(pendingObserverChanges_);
  for (const auto& [observer, add] : changes) Apply(observers_, observer, add);
}

bool TCustomComPort::BufferObserverPresent() const {
  return std::any_of(observers_.begin(), observers_.end(),
                     [](const PortObserver* o) { return static_cast<bool>(o->BytesReceived); });
}

}  // namespace comport
