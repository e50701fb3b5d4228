// COM names a user gave network ports on Windows (`pzrq480-cli map COM9
// rfc2217://host:4000`): values of the current user's registry key, one per name.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace winapi {

// The key under HKEY_CURRENT_USER.
inline constexpr char kMappedPortsKey[] = "Software\\PZ-RQ480 configurator\\Ports";

// The network port `name` (COMn, any letter case) stands for; nothing when it has none.
std::optional<std::string> MappedNetworkPort(const std::string& name);

// The numbers of every mapped COM name.
std::vector<unsigned> MappedComPortNumbers();

}  // namespace winapi
