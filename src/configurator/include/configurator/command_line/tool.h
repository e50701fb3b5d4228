// The command-line tool: the configurator's window logic driven on the headless back end.
#pragma once

#include "runtime/termination_signals.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace configurator::command_line {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The exit status of a command ended by signal n is kExitSignalBase + n.
inline constexpr int kExitSignalBase = 128;

// Runs one command line (without the program name). Results go to `out`; errors, one line
// each, and the trace go to `err`. Returns the exit status. Main thread only. With
// `signals`, a termination signal ends the command cleanly (see InterruptWatch).
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const runtime::TerminationSignals* signals = nullptr);

}  // namespace configurator::command_line
