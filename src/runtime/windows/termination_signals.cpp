#include "runtime/termination_signals.h"

#include <system_error>

#include <windows.h>

namespace runtime {

TerminationSignals::TerminationSignals() {
  cancelEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!cancelEvent_) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateEvent");
  }
}

TerminationSignals::~TerminationSignals() {
  ::CloseHandle(cancelEvent_);
}

std::optional<int> TerminationSignals::Wait() const {
  ::WaitForSingleObject(cancelEvent_, INFINITE);
  return std::nullopt;
}

void TerminationSignals::Cancel() const {
  ::SetEvent(cancelEvent_);
}

}  // namespace runtime
