#include "files/linux/user_config_dir.h"

#include <cstdlib>

namespace winapi {

std::optional<std::filesystem::path> AbsolutePathFromEnv(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::filesystem::path path(value);
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

std::optional<std::filesystem::path> UserConfigDirectory() {
  if (auto config = AbsolutePathFromEnv("XDG_CONFIG_HOME")) return *config / "pzrq480";
  if (auto home = AbsolutePathFromEnv("HOME")) return *home / ".config" / "pzrq480";
  return std::nullopt;
}

}  // namespace winapi
