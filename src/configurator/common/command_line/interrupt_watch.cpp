#include "configurator/command_line/interrupt_watch.h"

#include "runtime/main_thread.h"

namespace configurator::command_line {

InterruptWatch::InterruptWatch(const runtime::TerminationSignals& signals,
                               std::function<void()> onSignal)
    : signals_(signals), onSignal_(std::move(onSignal)) {
  Resume();
}

InterruptWatch::~InterruptWatch() {
  signals_.Cancel();
  // Serves a hand-over still waiting for the main thread, then joins.
  TerminateAndWait();
}

void InterruptWatch::Execute() {
  while (const auto signal = signals_.Wait()) {
    int none = 0;
    signal_.compare_exchange_strong(none, *signal);
    runtime::RunOnMainThread(onSignal_);
  }
}

}  // namespace configurator::command_line
