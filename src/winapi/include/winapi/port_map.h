// Where a Windows port name such as "COM3" lives on this system: a link in the user's
// port-map folder first, else a fixed table of the usual device names. Linux only
// (Windows knows its own ports), except ComPortNumber.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace winapi {

// The number n of a name "COMn" (any letter case, n from 1 to 255 without leading
// zeros), as Windows accepts it; nothing for any other name.
std::optional<unsigned> ComPortNumber(const std::string& name);

// The user's port-map folder: $PZ_PORT_MAP_DIR when set and not empty (a relative one
// counts from the working folder), else $XDG_CONFIG_HOME/pzrq480/ports, else
// $HOME/.config/pzrq480/ports; nothing when none of these gives a folder (XDG_CONFIG_HOME
// and HOME count only when absolute).
std::optional<std::filesystem::path> PortMapDirectory();

// The device of COM1..COM20 when the port map has no entry for it:
// COM1..COM4 -> /dev/ttyS0..3, COM5..COM12 -> /dev/ttyUSB0..7,
// COM13..COM20 -> /dev/ttyACM0..7.
std::optional<std::string> DefaultComPortPath(unsigned number);

// The device path for a "COMn" name, or nothing when the name is not a COM port name
// or has neither a map entry nor a default device. An entry of the map is a symbolic
// link named "COMn" (upper case); a relative link target counts from the folder.
// The path is returned even when the device does not exist: opening it tells.
std::optional<std::string> ResolveComPortPathIn(const std::string& name,
                                                const std::optional<std::filesystem::path>& mapDir);

}  // namespace winapi
