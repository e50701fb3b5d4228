#include "winapi/port_description.h"

#include "ports/common/port_state.h"

namespace winapi {

namespace {

// "socat (pid 12)", "pid 12", or "another program" when the holder is unknown.
std::string Holder(const PortDescription& port) {
  if (port.holderPid == 0) return "another program";
  const std::string pid = "pid " + std::to_string(port.holderPid);
  return port.holderProgram.empty() ? pid : port.holderProgram + " (" + pid + ")";
}

}  // namespace

PortState StateFromOpenError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return PortState::kMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return PortState::kInUse;
    default:
      return PortState::kFailed;
  }
}

std::string StateText(const PortDescription& port) {
  switch (port.state) {
    case PortState::kUsable:
      return "usable";
    case PortState::kNetwork:
      return "network port (not probed)";
    case PortState::kMissing:
      return "missing";
    case PortState::kNotTerminal:
      return "not a serial device";
    case PortState::kInUse:
      return "in use by " + Holder(port);
    case PortState::kConsole:
      return "the system console";
    case PortState::kLocked:
      return port.holderPid ? "locked by pid " + std::to_string(port.holderPid) : "locked";
    case PortState::kPermissionDenied:
      return port.group.empty() ? "permission denied"
                                : "permission denied (group " + port.group + ")";
    case PortState::kFailed:
      break;
  }
  return "cannot be opened (system error " + std::to_string(port.error) + ")";
}

std::string ReasonText(const PortDescription& port) {
  std::string reason;
  switch (port.state) {
    case PortState::kUsable:
    case PortState::kNetwork:
      return {};
    case PortState::kMissing:
      reason = "no such device";
      break;
    case PortState::kNotTerminal:
      reason = "not a serial device";
      break;
    case PortState::kInUse:
      reason = "in use by " + Holder(port);
      break;
    case PortState::kConsole:
      reason = "the system console";
      break;
    case PortState::kLocked:
      reason = "in use by " + Holder(port) + ", whose lock file claims it";
      break;
    case PortState::kPermissionDenied:
      reason = port.group.empty() ? "permission denied"
                                  : "permission denied: the device belongs to group " + port.group +
                                        "; join it with `sudo usermod -aG " + port.group +
                                        " $USER` and log in again";
      break;
    case PortState::kFailed:
      reason = "system error " + std::to_string(port.error);
      break;
  }
  if (port.devicePath.empty() || port.devicePath == port.name) return reason;
  return port.devicePath + ": " + reason;
}

}  // namespace winapi
