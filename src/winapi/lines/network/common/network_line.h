// The network back end of the comm driver: a serial port served over TCP, as raw bytes
// (tcp://) or through telnet with the COM-PORT-OPTION (rfc2217://).
#pragma once

#include "lines/common/line.h"

#include <memory>
#include <string>

namespace winapi::driver {

// Connects to the network port `name` ("rfc2217://host:port" or "tcp://host:port"),
// waiting a few seconds at most. On failure returns null with a Windows error
// (ERROR_INVALID_NAME, WSAHOST_NOT_FOUND, ERROR_CONNECTION_REFUSED, WSAETIMEDOUT,
// ERROR_NOT_SUPPORTED for a telnet server without the COM-PORT-OPTION, ...) and the
// reason sent to the debugger output.
std::unique_ptr<Line> OpenNetworkLine(const std::string& name, DWORD& error);

}  // namespace winapi::driver
