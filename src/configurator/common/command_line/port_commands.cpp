#include "configurator/command_line/port_commands.h"

#include "configurator/command_line/port_list.h"
#include "configurator/command_line/tool.h"

#include <ostream>

namespace configurator::command_line {

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
  } catch (const std::exception& error) {
    err << error.what() << "\n";
  }
  return kExitFailed;
}

}  // namespace configurator::command_line
