// The application services without a toolkit, for tests and the command-line tool:
// timers run on the calling (main) thread inside ProcessMessages, dialogs are recorded.
#pragma once

#include "ui/application.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class HeadlessApplication : public Application {
 public:
  using Clock = std::chrono::steady_clock;

  HeadlessApplication() = default;
  HeadlessApplication(const HeadlessApplication&) = delete;
  HeadlessApplication& operator=(const HeadlessApplication&) = delete;

  // Serves the runtime's main-thread queue, then fires each enabled timer that is due.
  // Ticks keep to a fixed grid: tick k is due at start + k * interval, counted from when
  // the timer was added, enabled or given a new interval. A late pass fires one tick and
  // moves on to the next grid point after now, so ticks are skipped, never bunched. A
  // sleeping timer is not due; woken, it ticks at the first grid point after the wake.
  void ProcessMessages() override;
  // Blocks in the runtime's queue until something is queued, the next tick is due or
  // `limit` passes.
  void WaitForMessage(std::chrono::milliseconds limit) override;

  // Recorded; then the matching hook, if set, runs while the dialog counts as open.
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::function<void(const std::string& text)> OnShowMessage;
  std::function<void(const std::string& text)> OnShowError;

  const std::vector<std::string>& Messages() const { return messages_; }
  const std::vector<std::string>& Errors() const { return errors_; }
  void ClearDialogs();

  void AddTimer(Timer& timer) override;
  void RemoveTimer(Timer& timer) override;
  // Ticks fired so far by the timer (0 for a timer that is not added).
  std::int64_t TicksFired(const Timer& timer) const;
  // When the timer's next tick is due; nothing while it is not added, cannot tick or
  // sleeps.
  std::optional<Clock::time_point> NextTickDue(const Timer& timer);

  // Processes messages, waiting in between, until `done` holds (true) or `limit`
  // passes (false).
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

 private:
  struct Slot {
    Timer* timer;
    Clock::time_point start;
    int interval = 0;
    bool running = false;   // enabled with a positive interval when last looked at
    bool asleep = false;    // asleep when last looked at
    std::int64_t next = 1;  // grid index of the next tick
    std::int64_t fired = 0;
  };

  Slot* Find(const Timer& timer);
  const Slot* Find(const Timer& timer) const;
  // Notices a timer enabled, disabled, re-timed, put to sleep or woken since the last
  // look (the timer's watcher looks at every change); false while the timer cannot tick
  // or sleeps.
  static bool Sync(Slot& slot, Clock::time_point now);
  static Clock::time_point Due(const Slot& slot);

  std::vector<Slot> slots_;
  std::vector<std::string> messages_;
  std::vector<std::string> errors_;
};

}  // namespace ui
