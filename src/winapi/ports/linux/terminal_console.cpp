#include "ports/linux/terminal_console.h"

#include <array>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/sysmacros.h>

namespace winapi {

namespace {

struct DeviceNumber {
  unsigned major;
  unsigned minor;
};

// /dev/console, /dev/tty0 (the virtual terminal in front) and /dev/tty (the caller's
// own terminal): whatever they stand for is in use by someone else.
constexpr std::array<DeviceNumber, 3> kConsoleAliases{{{5, 1}, {4, 0}, {5, 0}}};

// "tty0" names the foreground virtual terminal, whose name is one level further down.
constexpr int kMaxIndirections = 3;

std::vector<std::string> ReadNames(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> names;
  for (std::string name; in >> name;) {
    // A name that could leave the folder is no device name.
    if (name.find('/') == std::string::npos && name != "." && name != "..") {
      names.push_back(name);
    }
  }
  return names;
}

// The "major:minor" a device folder of the tty class records.
std::optional<dev_t> ReadDeviceNumber(const std::filesystem::path& file) {
  std::ifstream in(file);
  unsigned major = 0;
  unsigned minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return std::nullopt;
  return makedev(major, minor);
}

bool NamesDevice(const std::filesystem::path& ttyClass, const std::string& name, dev_t device,
                 int depth) {
  if (ReadDeviceNumber(ttyClass / name / "dev") == device) return true;
  if (depth >= kMaxIndirections) return false;
  for (const std::string& inner : ReadNames(ttyClass / name / "active")) {
    if (NamesDevice(ttyClass, inner, device, depth + 1)) return true;
  }
  return false;
}

}  // namespace

bool IsSystemConsole(dev_t device, const std::filesystem::path& sysRoot) {
  for (const auto& [major, minor] : kConsoleAliases) {
    if (device == makedev(major, minor)) return true;
  }
  const std::filesystem::path ttyClass = sysRoot / "class" / "tty";
  for (const std::string& name : ReadNames(ttyClass / "console" / "active")) {
    if (NamesDevice(ttyClass, name, device, 0)) return true;
  }
  return false;
}

}  // namespace winapi
