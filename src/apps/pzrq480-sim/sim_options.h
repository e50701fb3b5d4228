// The simulator's command line.
#pragma once

#include "device/pzrq480_model.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
  std::optional<std::string> comName;  // register under this name, else the first free one
  device::DeviceState state;
  device::FaultConfig fault;
  std::optional<std::string> logFile;  // else standard error
  bool help = false;
};

// A command line the simulator cannot run with; the text says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Throws UsageError.
SimOptions ParseSimOptions(const std::vector<std::string>& args);

const char* SimUsage();

}  // namespace sim
