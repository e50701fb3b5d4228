// The state of a port that an open refused, as far as the Windows error number tells.
#pragma once

#include "winapi/port_description.h"

namespace winapi {

PortState StateFromOpenError(DWORD error);

}  // namespace winapi
