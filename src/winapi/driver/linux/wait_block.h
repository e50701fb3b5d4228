// One waiting thread: woken once any of the events it is registered with is set. While
// the events offer wait sources it sleeps in poll on their descriptors and a descriptor of
// its own thread, and runs a source's work when its descriptor is ready.
#pragma once

#include "driver/linux/wait_source.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace winapi::events {

class WaitBlock {
 public:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  using Sources = std::vector<std::shared_ptr<WaitSource>>;

  void Arm();
  void Wake();
  // False when the deadline passed first; no deadline waits as long as it takes.
  bool Sleep(const Deadline& deadline, const Sources& sources);

 private:
  bool SleepOnCondition(const Deadline& deadline);
  // Null when no source has anything to watch.
  std::optional<bool> SleepInPoll(const Deadline& deadline, const Sources& sources);

  std::mutex mutex_;
  std::condition_variable woken_;
  bool signalled_ = false;  // under mutex_
  int pollWakeFd_ = -1;     // under mutex_: the thread's wake descriptor while it polls
};

}  // namespace winapi::events
