// On Windows a COM name is given only to a network port (for the current user); serial
// ports are numbered by Windows itself.
#include "winapi/port_pinning.h"

#include "ports/windows/mapped_network_ports.h"
#include "winapi/network_port.h"
#include "winapi/port_map.h"

#include <windows.h>

namespace winapi {

namespace {

constexpr const char* kWindowsNumbersItsPorts =
    "Windows numbers its serial ports itself: change a port's number in the Device Manager "
    "(the port's properties, Port Settings, Advanced)";

// "COM9" for "com9"; refuses what is no COM name.
std::string CheckedComName(const std::string& name) {
  const auto number = ComPortNumber(name);
  if (!number) throw PortMapError("'" + name + "' is no COM name: give one such as COM9");
  return "COM" + std::to_string(*number);
}

std::string EntryText(const std::string& com) {
  return std::string("HKEY_CURRENT_USER\\") + kMappedPortsKey + "\\" + com;
}

}  // namespace

PortPin MapComPort(const std::string& name, const std::string& target) {
  const std::string com = CheckedComName(name);
  if (!IsNetworkPortName(target)) {
    throw PortMapError(std::string(kWindowsNumbersItsPorts) +
                       "; map gives only a network port a COM name, e.g. map " + com +
                       " rfc2217://host:4000");
  }
  // A COM name of a port this PC has would hide that port.
  char device[512];
  if (!MappedNetworkPort(com) && ::QueryDosDeviceA(com.c_str(), device, sizeof device) != 0) {
    throw PortMapError(com + " is a serial port of this PC; choose a COM number it does not use");
  }
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExA(HKEY_CURRENT_USER, kMappedPortsKey, 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status =
        ::RegSetValueExA(key, com.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(target.c_str()),
                         static_cast<DWORD>(target.size() + 1));
    ::RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    throw PortMapError("cannot write " + EntryText(com) + " (system error " +
                       std::to_string(status) + ")");
  }
  return {EntryText(com), target, "for this user only; the window lists " + com};
}

PortPin UnmapComPort(const std::string& name) {
  const std::string com = CheckedComName(name);
  const auto target = MappedNetworkPort(com);
  if (!target) {
    throw PortMapError(com + " is no network port's name: `pzrq480-cli ports` lists the ports");
  }
  const LSTATUS status = ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kMappedPortsKey, com.c_str());
  if (status != ERROR_SUCCESS) {
    throw PortMapError("cannot remove " + EntryText(com) + " (system error " +
                       std::to_string(status) + ")");
  }
  return {EntryText(com), *target, {}};
}

}  // namespace winapi
