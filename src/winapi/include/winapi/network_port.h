// Network serial ports: a port name "rfc2217://host:port" (telnet with the COM-PORT-OPTION)
// or "tcp://host:port" (raw bytes), with "[v6address]" for an IPv6 host, opens a serial
// port served over the network.
#pragma once

#include <string>

namespace winapi {

// Whether `name` (with or without the "\\.\" device prefix) is written as a network port
// name. A malformed one still counts: opening it fails with ERROR_INVALID_NAME.
bool IsNetworkPortName(const std::string& name);

// Whether opening the port `name` reaches a network port: the name itself or, on Linux,
// the port-map entry of a "COMn" name. Opening one may wait for the network.
bool OpensNetworkPort(const std::string& name);

}  // namespace winapi
