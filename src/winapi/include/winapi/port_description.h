// What a serial port name stands for and whether it can be used now: for port lists,
// tooltips and the reason under an open failure.
#pragma once

#include "winapi/types.h"

#include <optional>
#include <string>
#include <vector>

namespace winapi {

// Whether a port can be opened now and, when not, why.
enum class PortState {
  kUsable,
  kMissing,           // no such device (or absent hardware)
  kNotTerminal,       // the name leads to something that is no serial device
  kInUse,             // another program has it open
  kConsole,           // the system console
  kLocked,            // a live process's lock file claims it
  kPermissionDenied,  // the user may not open it
  kFailed,            // any other failure; `error` tells
  kNetwork,           // a network port: not probed, as that would wait for the network
};

// A USB serial adapter as the kernel describes it.
struct UsbAdapter {
  std::string manufacturer;
  std::string product;
  std::string vendorId;   // four hex digits
  std::string productId;  // four hex digits
  std::string serialNumber;
  std::string byIdLink;  // its /dev/serial/by-id name; empty when it has none
};

struct PortDescription {
  std::string name;          // "COM5", or a device path
  std::string devicePath;    // what the name resolves to; empty when nothing
  std::string friendlyName;  // the system's name for the device (Windows)
  PortState state = PortState::kMissing;
  DWORD error = ERROR_SUCCESS;  // the open's Windows error when it failed
  unsigned long holderPid = 0;  // kInUse, kLocked; 0 when unknown
  std::string holderProgram;    // kInUse; empty when unknown
  std::string group;            // kPermissionDenied: the device's group
  std::optional<UsbAdapter> usb;
};

// Describes one port name (a COM name, or on Linux a device path or a virtual line) by
// opening it as the window's probe does and closing it again.
PortDescription DescribePort(const std::string& name);

// The USB adapter behind a device path, as the port list describes it, without opening
// the device: cheap enough for a tooltip. Nothing for a device that is no USB adapter,
// and always nothing on Windows, where the system names its own devices.
std::optional<UsbAdapter> UsbAdapterOfDevice(const std::string& devicePath);

// COM1..COM20 and every further port the system (Windows) or the port map (Linux)
// knows, in number order, each described; missing ones included.
std::vector<PortDescription> DescribePorts();

// "usable", "in use by socat (pid 12)", "the system console", "locked by pid 7",
// "permission denied (group dialout)", "missing", ...
std::string StateText(const PortDescription& port);

// Why the port cannot be opened, for a line under an open failure: "/dev/ttyUSB4: no
// such device", "/dev/ttyS0: permission denied: the device belongs to group dialout;
// join it with `sudo usermod -aG dialout $USER` and log in again", ... Empty for a
// usable port.
std::string ReasonText(const PortDescription& port);

// The reason an open of `name` just failed with `error`, in words for a user, with the
// device path and what to do where that helps. Linux knows the reason of the last
// refused open on this thread; Windows goes by the error number.
std::string OpenFailureReason(const std::string& name, DWORD error);

}  // namespace winapi
