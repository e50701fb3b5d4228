// An emulated event and the waits on a set of them. A wait registers its own wait block
// with each event it waits for, so setting an event wakes only the threads waiting on that
// event: an idle thread stays asleep whatever other events the process sets.
#pragma once

#include "driver/common/handle_table.h"
#include "driver/linux/wait_block.h"
#include "driver/linux/wait_source.h"
#include "winapi/types.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace winapi::events {

class Event final : public handles::Object {
 public:
  Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

  void Set();
  void Reset();

  // The work a thread waiting on this event may do itself (wait_source.h); one at a time.
  void SetSource(std::shared_ptr<WaitSource> source);
  // Takes `source` away again, unless another one replaced it meanwhile.
  void DropSource(const WaitSource* source);

 private:
  friend class Registration;
  friend std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events,
                                         bool waitAll);
  friend WaitBlock::Sources SourcesOf(const std::vector<std::shared_ptr<Event>>& events);

  bool Consume();  // mutex_ held

  const bool manualReset_;
  std::mutex mutex_;
  bool signalled_;                      // under mutex_
  std::vector<WaitBlock*> waiters_;     // under mutex_; blocks live until they unregister
  std::shared_ptr<WaitSource> source_;  // under mutex_
};

// The event behind an emulated handle; null for another kind of handle.
std::shared_ptr<Event> EventOf(HANDLE handle);

// The wait sources the events offer now.
WaitBlock::Sources SourcesOf(const std::vector<std::shared_ptr<Event>>& events);

// Checks the wait condition once and consumes what a satisfied wait consumes: the result
// WaitForMultipleObjects returns, or nothing. Wait-all takes every event at once.
std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events, bool waitAll);

// Waits until the condition holds or `milliseconds` (INFINITE for no limit) have passed.
DWORD Wait(const std::vector<std::shared_ptr<Event>>& events, bool waitAll, DWORD milliseconds);

}  // namespace winapi::events
