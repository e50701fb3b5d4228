#include "comport/com_thread.h"
#include "comport/port.h"
#include "runtime/message_window.h"

namespace comport {

void TCustomComPort::StartMonitor() {
  if (syncMethod_ == smWindowSync) {
    eventWindow_ =
        runtime::AllocateHWnd([this](runtime::Message& message) { PortWindowProc(message); });
  }
  monitorThread_ = std::make_unique<TComThread>(*this);
  hasMonitor_ = true;
}

// Safe to call when nothing is running. The thread is gone before the window is
// released, so no delivery can reach a destroyed window.
void TCustomComPort::StopMonitor() {
  monitorThread_.reset();
  hasMonitor_ = false;
  if (eventWindow_) {
    runtime::DeallocateHWnd(eventWindow_);
    eventWindow_ = nullptr;
  }
}

}  // namespace comport
