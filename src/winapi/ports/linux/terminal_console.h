// Whether a terminal device is where the kernel writes its console messages.
#pragma once

#include <filesystem>

#include <sys/types.h>

namespace winapi {

// True for /dev/console, /dev/tty0 and /dev/tty (aliases of a console or of the
// caller's own terminal) and for every device named in
// `sysRoot`/class/tty/console/active, following "tty0" to the virtual terminal in front.
// Devices are compared by number, so any node or link for the same device counts.
bool IsSystemConsole(dev_t device, const std::filesystem::path& sysRoot);

}  // namespace winapi
