#include "configurator/port_hint.h"

#include "winapi/port_map.h"

#include <filesystem>
#include <system_error>

namespace configurator {

std::string PortHint(const std::string& name) {
  const auto path = winapi::ResolveComPortPathIn(name, winapi::PortMapDirectory());
  if (!path) return {};
  // A link such as /dev/serial/by-id/... is shown as the device it leads to.
  std::error_code error;
  const auto device = std::filesystem::canonical(*path, error);
  return error ? *path : device.string();
}

}  // namespace configurator
