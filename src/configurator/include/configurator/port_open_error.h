// An open of the device's port that failed, or whose line settings the port refused, with
// the reason beside the component's message ("COM Port Error: Unable to open com port on
// COM9"), which stays as it is.
#pragma once

#include "comport/errors.h"
#include "comport/port.h"
#include "runtime/error_display.h"

#include <string>

namespace configurator {

class PortOpenError : public comport::EComPortExt, public runtime::ExplainedError {
 public:
  PortOpenError(const std::string& port, std::uint8_t code, std::uint32_t osErrorCode,
                std::string reason);
  std::string Reason() const override { return reason_; }

 private:
  std::string reason_;
};

// A transfer that failed because the device behind the port went away, with the reason
// beside the component's message ("COM Port Error: WriteFile function failed on COM3").
class PortGoneError : public comport::EComPortExt, public runtime::ExplainedError {
 public:
  PortGoneError(const comport::EComPortExt& error, std::string port, std::string reason);
  std::string Reason() const override { return reason_; }

 private:
  std::string reason_;
};

// Called while `error`, raised by a transfer on `port`, is being handled: throws it again,
// as PortGoneError when its system error says the device is no longer there.
[[noreturn]] void RethrowWithGoneReason(const comport::TComPort& port,
                                        const comport::EComPortExt& error);

// Opens `port`; a failure of the open itself is raised as PortOpenError with the reason
// the system gives (the device path behind the COM name on Linux and why it is refused),
// and so are line settings the port refuses while it opens (with the system's error).
void OpenWithReason(comport::TComPort& port);

}  // namespace configurator
