#include "common/thread_priority.h"

#include <windows.h>

namespace device {

void RaiseCurrentThreadPriority() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace device
