#include "ports/linux/terminal_system_paths.h"

#include <mutex>
#include <utility>

namespace winapi {

namespace {

std::mutex& PathsMutex() {
  static std::mutex mutex;
  return mutex;
}

TerminalSystemPaths& Paths() {
  static TerminalSystemPaths paths;
  return paths;
}

}  // namespace

TerminalSystemPaths CurrentTerminalSystemPaths() {
  std::lock_guard lock(PathsMutex());
  return Paths();
}

void SetTerminalSystemPaths(TerminalSystemPaths paths) {
  std::lock_guard lock(PathsMutex());
  Paths() = std::move(paths);
}

}  // namespace winapi
