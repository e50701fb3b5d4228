#include "common/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace device {

void RaiseCurrentThreadPriority() {
  // On Linux a nice value is per thread; lowering it needs privileges, so failure is fine.
  [[maybe_unused]] const int result =
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -10);
}

}  // namespace device
