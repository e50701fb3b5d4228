#include "driver/common/device_open.h"
#include "lines/terminal/linux/terminal.h"
#include "winapi/network_port.h"

namespace winapi {

bool OpensNetworkPort(const std::string& name) {
  if (IsNetworkPortName(name)) return true;
  const auto path = driver::ResolveComPortPath(driver::DeviceNameOf(name));
  return path && IsNetworkPortName(*path);
}

}  // namespace winapi
