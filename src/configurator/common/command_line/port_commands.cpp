#include "configurator/command_line/port_commands.h"

#include "configurator/command_line/port_list.h"
#include "configurator/command_line/tool.h"
#include "winapi/port_map.h"
#include "winapi/port_pinning.h"

#include <ostream>

namespace configurator::command_line {

namespace {

// "com3" as the map names it.
std::string ComName(const std::string& name) {
  const auto number = winapi::ComPortNumber(name);
  return number ? "COM" + std::to_string(*number) : name;
}

}  // namespace

bool IsPortCommand(Command command) {
  return command == Command::Ports || command == Command::Map || command == Command::Unmap;
}

int RunPortCommand(const Options& options, std::ostream& out, std::ostream& err) {
  try {
    if (options.command == Command::Ports) {
      const auto ports = PortsToList(options.all);
      out << (options.json ? FormatPortsJson(ports) : FormatPortsText(ports));
      return kExitOk;
    }
    if (options.command == Command::Map) {
      const auto pin = winapi::MapComPort(options.operands[0], options.operands[1]);
      out << ComName(options.operands[0]) << " is now " << pin.target << " (link " << pin.link
          << ")\n";
      if (!pin.note.empty()) out << pin.note << "\n";
      return kExitOk;
    }
    const auto pin = winapi::UnmapComPort(options.operands[0]);
    out << "removed " << pin.link << " (it led to " << pin.target << ")\n";
    if (!pin.note.empty()) out << pin.note << "\n";
    return kExitOk;
  } catch (const std::exception& error) {
    err << error.what() << "\n";
  }
  return kExitFailed;
}

}  // namespace configurator::command_line
