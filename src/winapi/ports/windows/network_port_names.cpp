#include "winapi/network_port.h"

namespace winapi {

// Windows knows its own COM ports: only a name written as a network port is one.
bool OpensNetworkPort(const std::string& name) {
  return IsNetworkPortName(name);
}

}  // namespace winapi
