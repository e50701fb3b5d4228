// Ctrl-C, SIGTERM and SIGHUP as something to wait for: they are blocked in every thread
// and read from a signalfd, so no work runs in a signal handler. On Windows nothing is
// watched (the system closes what an ended process held) and Wait only ends by Cancel.
#pragma once

#include <optional>

namespace runtime {

class TerminationSignals {
 public:
  // Blocks the signals in the calling thread (and so in threads it starts later); create
  // it before any thread. Throws std::system_error.
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Waits for one of the signals and returns its number; nothing once Cancel was called.
  std::optional<int> Wait() const;
  // Ends the Wait in progress and every later one; from any thread.
  void Cancel() const;

 private:
  int fd_ = -1;
  int cancel_ = -1;
  void* cancelEvent_ = nullptr;
};

}  // namespace runtime
