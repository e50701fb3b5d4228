// Where this program keeps per-user files on Linux, found from the environment the way
// desktop programs do.
#pragma once

#include <filesystem>
#include <optional>

namespace winapi {

// The value of an environment variable as a path; nothing when it is unset, empty or
// relative, since a relative path would change meaning with the working folder.
std::optional<std::filesystem::path> AbsolutePathFromEnv(const char* variable);

// $XDG_CONFIG_HOME/pzrq480, else $HOME/.config/pzrq480; nothing when neither variable
// gives an absolute folder.
std::optional<std::filesystem::path> UserConfigDirectory();

}  // namespace winapi
