#include "winapi/port_probe.h"

namespace winapi {

PortProbe::PortProbe() = default;
PortProbe::~PortProbe() = default;

}  // namespace winapi
