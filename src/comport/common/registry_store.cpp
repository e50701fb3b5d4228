#include "comport/registry_store.h"

#include "winapi/winapi.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace comport {

namespace {

[[noreturn]] void Fail(const char* format, const std::string& name) {
  std::string message = format;
  message.replace(message.find("%s"), 2, name);
  throw ERegistryException(message);
}

}  // namespace

void TRegistryStore::PutText(const std::string& Name, const std::string& Value) {
  const auto* data = reinterpret_cast<const BYTE*>(Value.c_str());
  if (winapi::RegSetValueExA(currentKey_, Name.c_str(), 0, REG_SZ, data,
                             static_cast<DWORD>(Value.size() + 1)) != ERROR_SUCCESS) {
    Fail("Failed to set data for '%s'", Name);
  }
}

void TRegistryStore::PutInteger(const std::string& Name, std::int32_t Value) {
  BYTE data[4];
  std::memcpy(data, &Value, sizeof data);
  if (winapi::RegSetValueExA(currentKey_, Name.c_str(), 0, REG_DWORD, data, sizeof data) !=
      ERROR_SUCCESS) {
    Fail("Failed to set data for '%s'", Name);
  }
}

std::string TRegistryStore::GetText(const std::string& Name) {
  DWORD size = 0;
  if (winapi::RegQueryValueExA(currentKey_, Name.c_str(), nullptr, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> data(size);
  DWORD type = REG_NONE;
  if (winapi::RegQueryValueExA(currentKey_, Name.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS) {
    Fail("Failed to get data for '%s'", Name);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) Fail("Invalid data type for '%s'", Name);
  const auto end = std::find(data.begin(), data.begin() + size, BYTE{0});
  return std::string(data.begin(), end);
}

std::int32_t TRegistryStore::GetInteger(const std::string& Name) {
  BYTE data[4] = {};
  DWORD size = sizeof data;
  DWORD type = REG_NONE;
  if (winapi::RegQueryValueExA(currentKey_, Name.c_str(), nullptr, &type, data, &size) !=
      ERROR_SUCCESS) {
    Fail("Failed to get data for '%s'", Name);
  }
  if (type != REG_DWORD) Fail("Invalid data type for '%s'", Name);
  std::int32_t value = 0;
  std::memcpy(&value, data, sizeof value);
  return value;
}

}  // namespace comport
