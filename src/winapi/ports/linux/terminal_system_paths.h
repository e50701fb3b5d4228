// The system folders the terminal back end consults before it takes a terminal: where
// serial programs keep their lock files, the process table, the kernel's device tree and
// the stable names udev gives serial devices.
#pragma once

#include <filesystem>
#include <vector>

namespace winapi {

struct TerminalSystemPaths {
  // Searched in order for lock files; ours goes into the first one we can write.
  std::vector<std::filesystem::path> lockDirectories{"/run/lock", "/var/lock"};
  std::filesystem::path procRoot{"/proc"};
  std::filesystem::path sysRoot{"/sys"};
  // Holds by-id/ and by-path/ with links to the serial devices.
  std::filesystem::path serialLinksRoot{"/dev/serial"};
};

// The folders in force (the system's own unless replaced).
TerminalSystemPaths CurrentTerminalSystemPaths();

// Replaces the folders for every later open; tests point them at folders of their own.
void SetTerminalSystemPaths(TerminalSystemPaths paths);

}  // namespace winapi
