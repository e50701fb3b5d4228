#include "winapi/port_map.h"

#include "lines/terminal/linux/terminal.h"
#include "files/linux/user_config_dir.h"
#include "winapi/ascii_case.h"
#include "winapi/network_port.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace winapi {

namespace {

struct DefaultRange {
  unsigned firstCom;
  unsigned lastCom;
  const char* devicePrefix;
};

// The order follows what a PC usually has: built-in UARTs first, then USB adapters
// (FTDI, CH340, PL2303 ...), then CDC-ACM devices (Arduino-style boards).
constexpr std::array<DefaultRange, 3> kDefaultTable{{
    {1, 4, "/dev/ttyS"},
    {5, 12, "/dev/ttyUSB"},
    {13, 20, "/dev/ttyACM"},
}};

std::optional<std::string> MapEntry(const std::filesystem::path& mapDir, unsigned number) {
  const std::filesystem::path entry = mapDir / ("COM" + std::to_string(number));
  std::error_code error;
  const auto status = std::filesystem::symlink_status(entry, error);
  if (error || !std::filesystem::exists(status)) return std::nullopt;
  if (!std::filesystem::is_symlink(status)) return entry.string();
  std::filesystem::path target = std::filesystem::read_symlink(entry, error);
  if (error) return entry.string();
  if (IsNetworkPortName(target.string())) return target.string();
  if (target.is_relative()) target = mapDir / target;
  return target.lexically_normal().string();
}

}  // namespace

std::optional<std::filesystem::path> PortMapDirectory() {
  // The folder is named on purpose, often from a script or a shell in a project folder:
  // a relative one means the working folder's, as for any path given on a command line.
  if (const char* dir = std::getenv("PZ_PORT_MAP_DIR"); dir && *dir) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(dir, error);
    if (!error) return absolute.lexically_normal();
  }
  if (auto config = UserConfigDirectory()) return *config / "ports";
  return std::nullopt;
}

std::optional<std::string> DefaultComPortPath(unsigned number) {
  for (const DefaultRange& range : kDefaultTable) {
    if (number >= range.firstCom && number <= range.lastCom) {
      return range.devicePrefix + std::to_string(number - range.firstCom);
    }
  }
  return std::nullopt;
}

std::optional<std::string> ResolveComPortPathIn(
    const std::string& name, const std::optional<std::filesystem::path>& mapDir) {
  const auto number = ComPortNumber(name);
  if (!number) return std::nullopt;
  if (mapDir) {
    if (auto mapped = MapEntry(*mapDir, *number)) return mapped;
  }
  return DefaultComPortPath(*number);
}

}  // namespace winapi

namespace winapi::driver {

std::optional<std::string> ResolveComPortPath(const std::string& name) {
  return ResolveComPortPathIn(name, PortMapDirectory());
}

}  // namespace winapi::driver
