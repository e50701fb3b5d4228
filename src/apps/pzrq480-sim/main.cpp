// pzrq480-sim: an emulated PZ-RQ480 on a pseudo-terminal, registered in the port map.
#include "frame_log_writer.h"
#include "port_registration.h"
#include "sim_options.h"

#include "device/pty_device.h"
#include "runtime/termination_signals.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  sim::SimOptions options;
  try {
    options = sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const sim::UsageError& error) {
    std::fprintf(stderr, "pzrq480-sim: %s\n\n%s", error.what(), sim::SimUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(sim::SimUsage(), stdout);
    return 0;
  }
  try {
    std::signal(SIGPIPE, SIG_IGN);
    const runtime::TerminationSignals signals;  // before any thread starts
    sim::FrameLogWriter log(options.logFile.value_or(""));
    device::PtyDevice device(options.state);
    device.SetFault(options.fault);
    device.SetObserver([&log](const device::FrameRecord& record) { log.Write(record); });
    const sim::PortRegistration registration(sim::PortMapFolder(), options.comName,
                                             device.SlavePath());
    std::printf("%s\n%s\n", registration.ComName().c_str(), device.SlavePath().c_str());
    std::fflush(stdout);
    log.Note("serving " + registration.ComName() + " on " + device.SlavePath() + " at " +
             std::to_string(options.state.baudRate) + " baud");
    const int signal = signals.Wait().value_or(0);
    log.Note(std::string("ending on signal ") + std::to_string(signal));
    device.SetObserver(nullptr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pzrq480-sim: %s\n", error.what());
    return 1;
  }
  return 0;
}
