// A real device answers within microseconds; the emulated one runs on a thread that a busy
// machine may hold back for longer than the PC's 60 ms reply window. Its thread therefore
// asks for a higher priority where the system allows it; where not, nothing changes.
#pragma once

namespace device {

void RaiseCurrentThreadPriority();

}  // namespace device
