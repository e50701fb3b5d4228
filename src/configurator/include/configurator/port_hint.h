// What the port list tells about a port beside its name (cbPort's item tooltip).
#pragma once

#include <string>
#include <vector>

namespace configurator {

// On Linux the device the COM name leads to (a COM name there is this program's own
// mapping) and, for a USB adapter, its maker and product: "/dev/ttyUSB0 (FTDI FT232R USB
// UART)". On Windows nothing, the name is the system's. Empty when there is nothing to say.
std::string PortHint(const std::string& name);

// PortHint of each name, in order.
inline std::vector<std::string> PortHints(const std::vector<std::string>& names) {
  std::vector<std::string> hints;
  hints.reserve(names.size());
  for (const std::string& name : names) hints.push_back(PortHint(name));
  return hints;
}

}  // namespace configurator
