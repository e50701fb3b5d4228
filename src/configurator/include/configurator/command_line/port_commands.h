// The commands about ports rather than the device: "ports", "map" and "unmap".
#pragma once

#include "configurator/command_line/options.h"

#include <iosfwd>

namespace configurator::command_line {

bool IsPortCommand(Command command);

// Runs one of them; returns the exit status.
int RunPortCommand(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace configurator::command_line
