// Ctrl-C, SIGTERM and SIGHUP as something to wait for: they are blocked in every thread
// and read from a signalfd, so no work runs in a signal handler.
#pragma once

namespace sim {

class TerminationSignals {
 public:
  // Blocks the signals in the calling thread (and so in threads it starts later); create
  // it before any thread.
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Waits for one of the signals and returns its number.
  int Wait() const;

 private:
  int fd_ = -1;
};

}  // namespace sim
