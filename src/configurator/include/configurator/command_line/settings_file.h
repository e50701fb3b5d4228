// A file that "read --json" wrote, read back for "write --from": the five settings only.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

namespace configurator::command_line {

// Why a settings file is refused, in words for the user.
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The list index of each of the five settings, in wire order. The versions, the port and
// the other members a read or write writes are ignored; an unknown key, a missing or null
// setting, a value no list holds and anything that is not such a file are refused.
std::array<int, 5> ParseSettingsFile(const std::string& text);

// ParseSettingsFile of the file at `path`; a file that cannot be read is refused too.
std::array<int, 5> LoadSettingsFile(const std::string& path);

}  // namespace configurator::command_line
