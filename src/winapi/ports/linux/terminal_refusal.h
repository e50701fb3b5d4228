// Why the last terminal open on this thread was refused: the Windows error number says
// only "access denied" or "not found", a user needs to know which rule refused it.
#pragma once

#include "winapi/port_description.h"

#include <string>

#include <sys/types.h>

namespace winapi {

struct TerminalRefusal {
  std::string path;  // the device path the open was given
  PortState state = PortState::kUsable;
  pid_t holder = 0;  // kInUse, kLocked: the process, 0 when unknown
  gid_t group = 0;   // kPermissionDenied: the device's group
};

// The record of this thread's last terminal open; kUsable after one that succeeded.
const TerminalRefusal& LastTerminalRefusal();
void RecordTerminalRefusal(TerminalRefusal refusal);

}  // namespace winapi
