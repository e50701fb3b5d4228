#include "comport/errors.h"

#include <array>
#include <string_view>

namespace comport {

namespace {

constexpr std::array<std::string_view, 23> kErrorTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

}  // namespace

std::string ErrorText(std::int32_t code) {
  if (code >= 1 && code <= static_cast<std::int32_t>(kErrorTexts.size())) {
    return std::string(kErrorTexts[static_cast<std::size_t>(code - 1)]);
  }
  return "Unknown Error #" + std::to_string(code);
}

EComPort::EComPort(const std::string& port, std::uint8_t code)
    : Exception(port + " Error: " + ErrorText(code)), errorCode_(code) {}

EComPort::EComPort(const std::string& port, const std::string& text)
    : Exception(port + " Error: " + text), errorCode_(0) {}

EComPortExt::EComPortExt(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode)
    : EComPort("COM Port Error: " + ErrorText(code) + " on " + port, code, 0),
      osErrorCode_(osErrorCode) {}

EComPortExt::EComPortExt(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode,
                         const std::string& reason)
    : EComPort("COM Port Error: " + ErrorText(code) + " on " + port + ": " + reason, code, 0),
      osErrorCode_(osErrorCode) {}

}  // namespace comport
