// The command-line tool's arguments: a command, the common options and, for "write", the
// settings to change (named as in the settings table).
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace configurator::command_line {

// Bad arguments: the tool shows the message and the usage text and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command { Help, Ports, Read, Write, Detect, Map, Unmap };

struct Options {
  Command command = Command::Help;
  std::optional<std::string> port;  // a COM name or a device path
  // The search rate; without it a read that gets no reply looks at the other rates.
  std::optional<std::string> baud;
  bool json = false;
  bool trace = false;
  bool all = false;  // ports: the missing ones too
  // write: the settings come from this file (what "read --json" printed).
  std::optional<std::string> from;
  bool dryRun = false;  // write: show what would change, write nothing
  // map: COM name and device; unmap: COM name.
  std::vector<std::string> operands;
  // Per setting, in wire order: the text given on the command line (checked to be one
  // of the setting's values).
  std::array<std::optional<std::string>, 5> settings;
};

// Throws UsageError.
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace configurator::command_line
