// What the kernel tells about a USB serial adapter, read from sysfs as udev reads it,
// and the stable names udev gives serial devices under /dev/serial.
#pragma once

#include "winapi/port_description.h"

#include <filesystem>
#include <optional>
#include <string>

namespace winapi {

// The adapter behind the terminal `devicePath` (links followed): the USB device that
// the tty's device folder sits under in `sysRoot`. Nothing for a terminal that is no
// USB device (a built-in UART, a pty).
std::optional<UsbAdapter> UsbAdapterOf(const std::string& devicePath,
                                       const std::filesystem::path& sysRoot,
                                       const std::filesystem::path& serialLinksRoot);

// The link in `linkFolder` (such as /dev/serial/by-id) that leads to `devicePath`, or
// empty when none does.
std::string SerialLinkTo(const std::string& devicePath, const std::filesystem::path& linkFolder);

}  // namespace winapi
