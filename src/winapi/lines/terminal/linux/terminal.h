// What the Linux CreateFileA needs of the terminal back end and the COM port map.
#pragma once

#include "lines/common/line.h"

#include <memory>
#include <optional>
#include <string>

namespace winapi::driver {

// The device path behind a COM port name such as "COM3" (case-insensitive), through the
// port map; nullopt when the name is not a COM port or has no device.
std::optional<std::string> ResolveComPortPath(const std::string& name);

// Opens the terminal at `path` exclusively as a line back end. On failure returns null and
// sets `windowsError` (ERROR_FILE_NOT_FOUND: no such device or not a terminal,
// ERROR_ACCESS_DENIED: in use or not permitted).
std::unique_ptr<Line> OpenTerminalLine(const std::string& path, DWORD& windowsError);

}  // namespace winapi::driver
