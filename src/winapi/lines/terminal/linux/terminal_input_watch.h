// A terminal's input as a wait source: a thread waiting for the event of a pending wait
// polls the terminal itself and hands the line what it saw, so it wakes straight from
// the terminal instead of through the line's worker.
#pragma once

#include "driver/linux/wait_block.h"
#include "driver/linux/wait_source.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace winapi::driver {

class TerminalInputWatch final : public events::WaitSource {
 public:
  // `wanted` says whether the line wants to hear of input now; `ready` receives the poll
  // result. Both run on the watching thread.
  TerminalInputWatch(int fd, std::function<bool()> wanted, std::function<void(short)> ready);

  int BeginWatch(events::WaitBlock& block) override;
  void OnReady(short revents) override;
  void EndWatch(events::WaitBlock& block) override;

  // Wakes the watching threads and returns once none watches any more; no watch begins
  // after it, so the descriptor may close then.
  void Stop();

 private:
  const int fd_;
  const std::function<bool()> wanted_;
  const std::function<void(short)> ready_;

  std::mutex mutex_;
  std::condition_variable idle_;
  bool stopped_ = false;                      // under mutex_
  std::vector<events::WaitBlock*> watchers_;  // under mutex_
};

}  // namespace winapi::driver
