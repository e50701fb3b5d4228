#include "configurator/port_hint.h"

#include "winapi/port_description.h"
#include "winapi/port_map.h"

#include <filesystem>
#include <system_error>

namespace configurator {

namespace {

// "FTDI FT232R USB UART"; the ids when the adapter gives no names.
std::string AdapterName(const winapi::UsbAdapter& usb) {
  std::string name = usb.manufacturer;
  if (!usb.product.empty()) name += (name.empty() ? "" : " ") + usb.product;
  if (name.empty()) name = "USB " + usb.vendorId + ":" + usb.productId;
  return name;
}

}  // namespace

std::string PortHint(const std::string& name) {
  const auto path = winapi::ResolveComPortPathIn(name, winapi::PortMapDirectory());
  if (!path) return {};
  // A link such as /dev/serial/by-id/... is shown as the device it leads to.
  std::error_code error;
  const auto canonical = std::filesystem::canonical(*path, error);
  const std::string device = error ? *path : canonical.string();
  const auto usb = winapi::UsbAdapterOfDevice(device);
  return usb ? device + " (" + AdapterName(*usb) + ")" : device;
}

}  // namespace configurator
