// The "ports" command: every port with what it is and whether it can be used.
#pragma once

#include "winapi/port_description.h"

#include <string>
#include <vector>

namespace configurator::command_line {

// One line a port: "COM5: /dev/ttyUSB0: usable; FTDI FT232R USB UART (0403:6001), serial
// A1B2C3, /dev/serial/by-id/usb-FTDI_...".
std::string FormatPortsText(const std::vector<winapi::PortDescription>& ports);

// A JSON array of objects with the same facts.
std::string FormatPortsJson(const std::vector<winapi::PortDescription>& ports);

// The ports to show: the missing ones only when `all` is set.
std::vector<winapi::PortDescription> PortsToList(bool all);

}  // namespace configurator::command_line
