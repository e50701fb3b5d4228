// The number of a Windows port name, on both systems.
#include "winapi/ascii_case.h"
#include "winapi/port_map.h"

#include <string_view>

namespace winapi {

std::optional<unsigned> ComPortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  if (!EqualsIgnoringAsciiCase(std::string_view(name).substr(0, 3), "COM")) return std::nullopt;
  if (name[3] == '0') return std::nullopt;
  unsigned number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(name[i] - '0');
  }
  if (number < 1 || number > 255) return std::nullopt;
  return number;
}

}  // namespace winapi
