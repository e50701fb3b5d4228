// The system folders the terminal back end consults before it takes a terminal: where
// serial programs keep their lock files, the process table and the kernel's device tree.
#pragma once

#include <filesystem>
#include <vector>

namespace winapi {

struct TerminalSystemPaths {
  // Searched in order for lock files; ours goes into the first one we can write.
  std::vector<std::filesystem::path> lockDirectories{"/run/lock", "/var/lock"};
  std::filesystem::path procRoot{"/proc"};
  std::filesystem::path sysRoot{"/sys"};
};

// The folders in force (the system's own unless replaced).
TerminalSystemPaths CurrentTerminalSystemPaths();

// Replaces the folders for every later open; tests point them at folders of their own.
void SetTerminalSystemPaths(TerminalSystemPaths paths);

}  // namespace winapi
