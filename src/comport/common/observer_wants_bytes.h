// Which observers take received bytes: while one does, the port reads the bytes itself.
#pragma once

#include "comport/events.h"

namespace comport {

inline bool WantsBytes(const PortObserver* observer) {
  return static_cast<bool>(observer->BytesReceived);
}

}  // namespace comport
