// The registry of virtual lines by port name, as CreateFileA sees it.
#pragma once

#include "lines/common/line.h"

#include <memory>
#include <string>

namespace winapi::driver {

// Opens the port side of the virtual line registered as `name` (letter case ignored).
// Returns null with `error` 0 when no virtual line has that name, and null with a Windows
// error when the line refuses (ERROR_ACCESS_DENIED: open already; ERROR_FILE_NOT_FOUND:
// disconnected; or the error the far side chose for CreateFile).
std::unique_ptr<Line> OpenVirtualLine(const std::string& name, DWORD& error);

// Whether a virtual line is registered as `name` (letter case ignored).
bool VirtualLineExists(const std::string& name);

}  // namespace winapi::driver
