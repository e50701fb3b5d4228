// Ports on Windows: the ones the system lists under HARDWARE\DEVICEMAP\SERIALCOMM, with
// the device manager's names from SetupAPI, plus COM1..COM20; the state is what an open
// of each finds.
#include "winapi/port_description.h"

#include "ports/common/port_state.h"
#include "ports/windows/mapped_network_ports.h"
#include "lines/virtual/common/virtual_lines.h"

#include "winapi/port_map.h"
#include "winapi/system_error_text.h"
#include "winapi/winapi.h"

#include <windows.h>
#include <setupapi.h>

#include <map>
#include <set>

namespace winapi {

namespace {

constexpr unsigned kFirstListedPort = 1;
constexpr unsigned kLastListedPort = 20;

// The device setup class of serial and parallel ports.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// SERIALCOMM: the system device ("\Device\Serial0") of every port name it knows.
std::map<std::string, std::string> SystemPorts() {
  std::map<std::string, std::string> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char device[256];
    DWORD deviceSize = sizeof device;
    BYTE name[256];
    DWORD nameSize = sizeof name - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key, index, device, &deviceSize, nullptr, &type, name, &nameSize) !=
        ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) continue;
    name[nameSize] = 0;
    ports[reinterpret_cast<const char*>(name)] = device;
  }
  ::RegCloseKey(key);
  return ports;
}

// The device manager's name ("USB Serial Port (COM5)") of every port it knows.
std::map<std::string, std::string> FriendlyNames() {
  std::map<std::string, std::string> names;
  HDEVINFO devices = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &info); ++index) {
    HKEY key = ::SetupDiOpenDevRegKey(devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char port[64] = {};
    DWORD size = sizeof port - 1;
    DWORD type = 0;
    const bool named = ::RegQueryValueExA(key, "PortName", nullptr, &type,
                                          reinterpret_cast<BYTE*>(port), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    ::RegCloseKey(key);
    char friendly[256] = {};
    if (named && ::SetupDiGetDeviceRegistryPropertyA(devices, &info, SPDRP_FRIENDLYNAME, nullptr,
                                                     reinterpret_cast<BYTE*>(friendly),
                                                     sizeof friendly - 1, nullptr)) {
      names[port] = friendly;
    }
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return names;
}

// What the name stands for: a virtual line of this process, else the system's device.
std::string DevicePath(const std::string& name, const std::map<std::string, std::string>& system) {
  if (driver::VirtualLineExists(name)) return "virtual line " + name;
  if (const auto target = MappedNetworkPort(name)) return *target;
  const auto it = system.find(name);
  return it == system.end() ? std::string() : it->second;
}

void Probe(PortDescription& port) {
  const HANDLE handle = CreateFileA(("\\\\.\\" + port.name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    port.state = PortState::kUsable;
    return;
  }
  port.error = GetLastError();
  port.state = StateFromOpenError(port.error);
}

}  // namespace

PortDescription DescribePort(const std::string& name) {
  PortDescription port;
  port.name = name;
  port.devicePath = DevicePath(name, SystemPorts());
  const auto friendly = FriendlyNames();
  if (const auto it = friendly.find(name); it != friendly.end()) port.friendlyName = it->second;
  Probe(port);
  return port;
}

std::optional<UsbAdapter> UsbAdapterOfDevice(const std::string&) {
  return std::nullopt;
}

std::vector<PortDescription> DescribePorts() {
  const auto system = SystemPorts();
  const auto friendly = FriendlyNames();
  std::set<unsigned> numbers;
  for (unsigned n = kFirstListedPort; n <= kLastListedPort; ++n) numbers.insert(n);
  for (const auto& [name, device] : system) {
    if (auto number = ComPortNumber(name)) numbers.insert(*number);
  }
  for (const unsigned number : MappedComPortNumbers()) numbers.insert(number);
  std::vector<PortDescription> ports;
  for (const unsigned number : numbers) {
    PortDescription port;
    port.name = "COM" + std::to_string(number);
    port.devicePath = DevicePath(port.name, system);
    if (const auto it = friendly.find(port.name); it != friendly.end()) {
      port.friendlyName = it->second;
    }
    Probe(port);
    ports.push_back(std::move(port));
  }
  return ports;
}

std::vector<unsigned> FurtherComPortNumbers() {
  std::set<unsigned> numbers;
  for (const auto& [name, device] : SystemPorts()) {
    if (const auto number = ComPortNumber(name); number && *number > kLastListedPort) {
      numbers.insert(*number);
    }
  }
  for (const unsigned number : MappedComPortNumbers()) {
    if (number > kLastListedPort) numbers.insert(number);
  }
  return {numbers.begin(), numbers.end()};
}

std::string OpenFailureReason(const std::string&, DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "in use by another program";
    default:
      return SystemErrorText(error);
  }
}

}  // namespace winapi
