#include "configurator/port_open_error.h"

#include "winapi/port_description.h"

namespace configurator {

namespace {

// The component's error code of a failed open.
constexpr std::uint8_t kOpenFailed = 1;

}  // namespace

PortOpenError::PortOpenError(const std::string& port, std::uint32_t osErrorCode, std::string reason)
    : comport::EComPortExt(port, kOpenFailed, osErrorCode), reason_(std::move(reason)) {}

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
