// Ports on Linux: a COM name resolves through the port map; its state is what an open
// of it (as the window's probe does it) finds.
#include "winapi/port_description.h"

#include "ports/common/port_state.h"

#include "lines/virtual/common/virtual_lines.h"
#include "lines/terminal/linux/terminal.h"
#include "ports/linux/terminal_other_users.h"
#include "ports/linux/terminal_refusal.h"
#include "ports/linux/terminal_system_paths.h"
#include "ports/linux/usb_adapter.h"
#include "winapi/network_port.h"
#include "winapi/port_map.h"
#include "winapi/port_probe.h"

#include <algorithm>
#include <set>
#include <system_error>

#include <grp.h>
#include <unistd.h>

namespace winapi {

namespace {

constexpr unsigned kFirstListedPort = 1;
constexpr unsigned kLastListedPort = 20;

std::string GroupName(gid_t group) {
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return found->gr_name;
  }
  return std::to_string(group);
}

// Fills in why an open of the port's device failed: the terminal back end's record of
// the refusal when it is about this device, else what the error number says.
void AddRefusal(PortDescription& port, DWORD error) {
  port.error = error;
  const TerminalRefusal& refusal = LastTerminalRefusal();
  if (port.devicePath.empty() || refusal.path != port.devicePath ||
      refusal.state == PortState::kUsable) {
    port.state = StateFromOpenError(error);
    return;
  }
  port.state = refusal.state;
  port.holderPid = static_cast<unsigned long>(refusal.holder);
  if (refusal.holder != 0) {
    port.holderProgram = ProgramName(refusal.holder, CurrentTerminalSystemPaths().procRoot);
  }
  if (refusal.state == PortState::kPermissionDenied) port.group = GroupName(refusal.group);
}

// The device a name stands for, as CreateFileA looks it up; empty for a name without one.
std::string DevicePathOf(const std::string& name) {
  if (driver::VirtualLineExists(name)) return "virtual line " + name;
  if (name.find('/') != std::string::npos) return name;
  return driver::ResolveComPortPath(name).value_or("");
}

}  // namespace

PortDescription DescribePort(const std::string& name) {
  PortDescription port;
  port.name = name;
  DWORD error = ERROR_SUCCESS;
  if (auto line = driver::OpenVirtualLine(name, error); line || error != ERROR_SUCCESS) {
    // Closed as the driver closes it: the line is free again.
    if (line) line->Stop();
    port.devicePath = DevicePathOf(name);
    port.state = line ? PortState::kUsable : StateFromOpenError(error);
    port.error = error;
    return port;
  }
  port.devicePath = DevicePathOf(name);
  if (port.devicePath.empty()) return port;
  if (IsNetworkPortName(port.devicePath)) {
    port.state = PortState::kNetwork;
    return port;
  }
  const TerminalSystemPaths system = CurrentTerminalSystemPaths();
  if (auto line = driver::OpenTerminalLine(port.devicePath, error)) {
    line->Stop();
    port.state = PortState::kUsable;
  } else {
    AddRefusal(port, error);
  }
  if (port.state != PortState::kMissing) {
    port.usb = UsbAdapterOf(port.devicePath, system.sysRoot, system.serialLinksRoot);
  }
  return port;
}

std::optional<UsbAdapter> UsbAdapterOfDevice(const std::string& devicePath) {
  const TerminalSystemPaths system = CurrentTerminalSystemPaths();
  return UsbAdapterOf(devicePath, system.sysRoot, system.serialLinksRoot);
}

std::vector<PortDescription> DescribePorts() {
  std::set<unsigned> numbers;
  for (unsigned n = kFirstListedPort; n <= kLastListedPort; ++n) numbers.insert(n);
  if (const auto mapDir = PortMapDirectory()) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(*mapDir, error), end; !error && it != end;
         it.increment(error)) {
      const std::string entry = it->path().filename().string();
      // Only the upper-case names are map entries, as the lookup reads them.
      if (auto number = ComPortNumber(entry); number && entry.rfind("COM", 0) == 0) {
        numbers.insert(*number);
      }
    }
  }
  const PortProbe probe;
  std::vector<PortDescription> ports;
  for (const unsigned number : numbers)
    ports.push_back(DescribePort("COM" + std::to_string(number)));
  return ports;
}

std::string OpenFailureReason(const std::string& name, DWORD error) {
  PortDescription port;
  port.name = name;
  port.devicePath = DevicePathOf(name);
  AddRefusal(port, error);
  if (port.devicePath.empty() && ComPortNumber(name)) {
    return "no such device: " + name + " has no entry in the port map and no default device";
  }
  return ReasonText(port);
}

}  // namespace winapi
