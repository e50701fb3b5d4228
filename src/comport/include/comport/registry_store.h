// The registry as a settings store: values of one open key, the current key.
#pragma once

#include "comport/errors.h"
#include "winapi/types.h"

#include <cstdint>
#include <string>

namespace comport {

// A value could not be written or read, or has the wrong type.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

class TRegistryStore {
 public:
  // The key stays the caller's: the store neither opens nor closes it.
  explicit TRegistryStore(HKEY CurrentKey) : currentKey_(CurrentKey) {}

  HKEY CurrentKey() const { return currentKey_; }

  // REG_SZ with a terminating NUL. Raises "Failed to set data for '<Name>'".
  void PutText(const std::string& Name, const std::string& Value);
  // REG_DWORD, 4 bytes. Raises "Failed to set data for '<Name>'".
  void PutInteger(const std::string& Name, std::int32_t Value);
  // An absent or empty value reads as "". Raises "Failed to get data for '<Name>'" when
  // the data cannot be read and "Invalid data type for '<Name>'" for a value that is not
  // REG_SZ or REG_EXPAND_SZ. The text ends at the first NUL.
  std::string GetText(const std::string& Name);
  // Raises "Failed to get data for '<Name>'" for an absent value or one longer than
  // 4 bytes, "Invalid data type for '<Name>'" for a value that is not REG_DWORD.
  std::int32_t GetInteger(const std::string& Name);

 private:
  HKEY currentKey_;
};

}  // namespace comport
