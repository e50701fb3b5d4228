#include "ports/windows/mapped_network_ports.h"
#include "winapi/network_port.h"
#include "winapi/port_map.h"

#include <windows.h>

namespace winapi {

std::optional<std::string> MappedNetworkPort(const std::string& name) {
  const auto number = ComPortNumber(name);
  if (!number) return std::nullopt;
  const std::string value = "COM" + std::to_string(*number);
  char target[512] = {};
  DWORD size = sizeof target - 1;
  if (::RegGetValueA(HKEY_CURRENT_USER, kMappedPortsKey, value.c_str(), RRF_RT_REG_SZ, nullptr,
                     target, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // Only a network port: anything else in the key was not written by map.
  return IsNetworkPortName(target) ? std::optional<std::string>(target) : std::nullopt;
}

std::vector<unsigned> MappedComPortNumbers() {
  std::vector<unsigned> numbers;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kMappedPortsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return numbers;
  }
  for (DWORD index = 0;; ++index) {
    char name[64];
    DWORD size = sizeof name;
    if (::RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    if (const auto number = ComPortNumber(name); number && MappedNetworkPort(name)) {
      numbers.push_back(*number);
    }
  }
  ::RegCloseKey(key);
  return numbers;
}

// A name written as a network port, or a COM name the user gave one.
bool OpensNetworkPort(const std::string& name) {
  return IsNetworkPortName(name) || MappedNetworkPort(name).has_value();
}

}  // namespace winapi
