// An emulated event and the waits on a set of them. A wait registers its own wait block
// with each event it waits for, so setting an event wakes only the threads waiting on that
// event: an idle thread stays asleep whatever other events the process sets.
#pragma once

#include "common/handle_table.h"
#include "winapi/types.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace winapi::events {

// One waiting thread: woken once any of the events it is registered with is set.
class WaitBlock {
 public:
  void Arm();
  void Wake();
  // False when the deadline passed first; no deadline waits as long as it takes.
  bool Sleep(const std::optional<std::chrono::steady_clock::time_point>& deadline);

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool signalled_ = false;  // under mutex_
};

class Event final : public handles::Object {
 public:
  Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

  void Set();
  void Reset();

 private:
  friend class Registration;
  friend std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events,
                                         bool waitAll);

  bool Consume();  // mutex_ held

  const bool manualReset_;
  std::mutex mutex_;
  bool signalled_;                   // under mutex_
  std::vector<WaitBlock*> waiters_;  // under mutex_; blocks live until they unregister
};

// Checks the wait condition once and consumes what a satisfied wait consumes: the result
// WaitForMultipleObjects returns, or nothing. Wait-all takes every event at once.
std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events, bool waitAll);

// Waits until the condition holds or `milliseconds` (INFINITE for no limit) have passed.
DWORD Wait(const std::vector<std::shared_ptr<Event>>& events, bool waitAll, DWORD milliseconds);

}  // namespace winapi::events
