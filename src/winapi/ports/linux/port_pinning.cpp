#include "winapi/port_pinning.h"

#include "winapi/owned_fd.h"
#include "ports/linux/terminal_system_paths.h"
#include "ports/linux/usb_adapter.h"
#include "winapi/port_map.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

namespace fs = std::filesystem;

// "COMn" as the map names its entries (upper case, no leading zeros).
std::string MapEntryName(const std::string& name) {
  const auto number = ComPortNumber(name);
  if (!number) throw PortMapError(name + " is no COM name: give COM1 to COM255");
  return "COM" + std::to_string(*number);
}

fs::path MapFolder() {
  const auto folder = PortMapDirectory();
  if (!folder) {
    throw PortMapError("no port map folder: set PZ_PORT_MAP_DIR or HOME to an absolute folder");
  }
  return *folder;
}

// Refuses what no serial program could open as a port.
void CheckTerminal(const std::string& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) {
    throw PortMapError(device + ": " + std::strerror(errno) + "; plug the adapter in, or name " +
                       "an existing device (ls /dev/serial/by-id)");
  }
  if (!S_ISCHR(info.st_mode)) {
    throw PortMapError(device + " is not a serial device: it is no device node at all");
  }
  const OwnedFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  // A device we may not open yet (no group membership) is checked when it is used.
  if (fd.Get() >= 0 && !::isatty(fd.Get())) {
    throw PortMapError(device + " is not a serial device: it is no terminal");
  }
}

// Replaces `link` in one step, so that the entry is never missing meanwhile.
void ReplaceLink(const fs::path& link, const std::string& target) {
  const fs::path temporary = link.parent_path() / ("." + link.filename().string() + ".new");
  std::error_code error;
  fs::remove(temporary, error);
  fs::create_symlink(target, temporary, error);
  if (!error) fs::rename(temporary, link, error);
  if (error) {
    fs::remove(temporary);
    throw PortMapError("cannot write " + link.string() + ": " + error.message());
  }
}

}  // namespace

PortPin MapComPort(const std::string& name, const std::string& device) {
  const std::string entry = MapEntryName(name);
  CheckTerminal(device);
  const TerminalSystemPaths system = CurrentTerminalSystemPaths();
  PortPin pin;
  pin.target = SerialLinkTo(device, system.serialLinksRoot / "by-id");
  if (pin.target.empty()) {
    pin.target = SerialLinkTo(device, system.serialLinksRoot / "by-path");
    if (!pin.target.empty()) {
      pin.note = device +
                 " has no /dev/serial/by-id name (the adapter reports no serial "
                 "number), so " +
                 entry +
                 " follows its USB socket instead: plug it into the "
                 "same socket";
    }
  }
  if (pin.target.empty()) pin.target = fs::absolute(device).lexically_normal().string();
  const fs::path folder = MapFolder();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) throw PortMapError("cannot make " + folder.string() + ": " + error.message());
  pin.link = (folder / entry).string();
  ReplaceLink(pin.link, pin.target);
  return pin;
}

PortPin UnmapComPort(const std::string& name) {
  const std::string entry = MapEntryName(name);
  const fs::path link = MapFolder() / entry;
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(link, error))) {
    throw PortMapError(entry + " has no link in the port map " + link.parent_path().string());
  }
  PortPin pin;
  pin.link = link.string();
  pin.target = fs::read_symlink(link, error).string();
  if (!fs::remove(link, error) || error) {
    throw PortMapError("cannot remove " + link.string() + ": " + error.message());
  }
  if (const auto fallback = DefaultComPortPath(*ComPortNumber(entry))) {
    pin.note = entry + " is " + *fallback + " again, as the default table has it";
  }
  return pin;
}

}  // namespace winapi
