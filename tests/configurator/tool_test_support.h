// Runs the command-line tool in this process and keeps what it printed.
#pragma once

#include "configurator/command_line/tool.h"

#include <sstream>
#include <string>
#include <vector>

namespace configurator::testing {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline ToolRun RunToolWith(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  ToolRun run;
  run.status = command_line::RunTool(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// Lines of a text, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace configurator::testing
