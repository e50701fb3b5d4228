#include "configurator/port_open_error.h"

#include "winapi/network_port.h"
#include "winapi/port_description.h"

namespace configurator {

namespace {

// The component's error codes of a failed open and of line settings the port refused.
constexpr std::uint8_t kOpenFailed = 1;
constexpr std::uint8_t kSetStateFailed = 7;

std::string SettingsFailureReason(std::uint32_t osErrorCode) {
  const std::string number = " (system error " + std::to_string(osErrorCode) + ")";
  switch (osErrorCode) {
    case ERROR_INVALID_PARAMETER:
      return "the port cannot take these line settings" + number;
    case ERROR_SEM_TIMEOUT:
      return "the port did not confirm the line settings in time; try again" + number;
    case ERROR_DEVICE_NOT_CONNECTED:
      return "the device is gone" + number;
    default:
      return "the line settings were not applied" + number;
  }
}

}  // namespace

PortOpenError::PortOpenError(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode,
                             std::string reason)
    : comport::EComPortExt(port, code, osErrorCode), reason_(std::move(reason)) {}

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
    if (error.ErrorCode() == kSetStateFailed) {
      throw PortOpenError(port.Port(), kSetStateFailed, error.OsErrorCode(),
                          SettingsFailureReason(error.OsErrorCode()));
    }
    if (error.ErrorCode() != kOpenFailed) throw;
    throw PortOpenError(port.Port(), kOpenFailed, error.OsErrorCode(),
                        winapi::OpenFailureReason(port.Port(), error.OsErrorCode()));
  }
}

}  // namespace configurator
