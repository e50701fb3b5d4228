// A termination signal (Ctrl-C, SIGTERM, SIGHUP) during a command: the tool handles it as
// the window handles its close box. The signal is handed to the main thread, where a read
// ends at its next wait and a write once its setting frames are out, and the port is
// closed (its settings put back, its lock file removed) before the tool ends.
#pragma once

#include "runtime/termination_signals.h"
#include "runtime/thread.h"

#include <atomic>
#include <functional>

namespace configurator::command_line {

class InterruptWatch : private runtime::Thread {
 public:
  // `onSignal` runs on the main thread, the next time it processes its messages. A watch
  // cancels `signals` when it ends, so each TerminationSignals serves one watch.
  InterruptWatch(const runtime::TerminationSignals& signals, std::function<void()> onSignal);
  ~InterruptWatch() override;

  // The number of the first signal that came; 0 while none has.
  int Signal() const { return signal_.load(); }

 private:
  void Execute() override;

  const runtime::TerminationSignals& signals_;
  std::function<void()> onSignal_;
  std::atomic<int> signal_{0};
};

}  // namespace configurator::command_line
