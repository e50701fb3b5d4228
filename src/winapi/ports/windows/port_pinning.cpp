#include "winapi/port_pinning.h"

namespace winapi {

namespace {

constexpr const char* kWindowsNumbersItsPorts =
    "Windows numbers its ports itself: change a port's number in the Device Manager "
    "(the port's properties, Port Settings, Advanced)";

}  // namespace

PortPin MapComPort(const std::string&, const std::string&) {
  throw PortMapError(kWindowsNumbersItsPorts);
}

PortPin UnmapComPort(const std::string&) {
  throw PortMapError(kWindowsNumbersItsPorts);
}

}  // namespace winapi
