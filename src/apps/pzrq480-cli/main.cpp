// pzrq480-cli: reads and writes the settings of a PZ-RQ480 from the command line.
#include "configurator/command_line/tool.h"
#include "runtime/main_thread.h"
#include "runtime/termination_signals.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  runtime::SetMainThread();
  // Before any thread starts, so that none of them takes the signals.
  const runtime::TerminationSignals signals;
  const std::vector<std::string> args(argv + 1, argv + argc);
  return configurator::command_line::RunTool(args, std::cout, std::cerr, &signals);
}
