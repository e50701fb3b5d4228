#include "configurator/port_open_error.h"

#include "winapi/network_port.h"
#include "winapi/port_description.h"

namespace configurator {

namespace {

// The component's error code of a failed open.
constexpr std::uint8_t kOpenFailed = 1;

}  // namespace

PortOpenError::PortOpenError(const std::string& port, std::uint32_t osErrorCode, std::string reason)
    : comport::EComPortExt(port, kOpenFailed, osErrorCode), reason_(std::move(reason)) {}

PortGoneError::PortGoneError(const comport::EComPortExt& error, std::string port,
                             std::string reason)
    : comport::EComPortExt(port, error.ErrorCode(), error.OsErrorCode()),
      reason_(std::move(reason)) {}

void RethrowWithGoneReason(const comport::TComPort& port, const comport::EComPortExt& error) {
  switch (error.OsErrorCode()) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:  // what a Windows USB adapter's driver answers once unplugged
      break;
    default:
      throw;
  }
  if (winapi::OpensNetworkPort(port.Port())) {
    throw PortGoneError(error, port.Port(),
                        "The server closed the connection. Check that it still runs and serves "
                        "this port, then try again.");
  }
  throw PortGoneError(error, port.Port(),
                      "The device is gone: it was unplugged, or the program behind the line "
                      "ended. Plug it in again (or start that program again), then try again.");
}

void OpenWithReason(comport::TComPort& port) {
  try {
    port.Open();
  } catch (const comport::EComPortExt& error) {
    if (error.ErrorCode() != kOpenFailed) throw;
    throw PortOpenError(port.Port(), error.OsErrorCode(),
                        winapi::OpenFailureReason(port.Port(), error.OsErrorCode()));
  }
}

}  // namespace configurator
