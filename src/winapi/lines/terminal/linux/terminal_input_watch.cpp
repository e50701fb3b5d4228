#include "lines/terminal/linux/terminal_input_watch.h"

#include <algorithm>
#include <utility>

namespace winapi::driver {

TerminalInputWatch::TerminalInputWatch(int fd, std::function<bool()> wanted,
                                       std::function<void(short)> ready)
    : fd_(fd), wanted_(std::move(wanted)), ready_(std::move(ready)) {}

int TerminalInputWatch::BeginWatch(events::WaitBlock& block) {
  std::lock_guard lock(mutex_);
  if (stopped_ || !wanted_()) return -1;
  watchers_.push_back(&block);
  return fd_;
}

void TerminalInputWatch::OnReady(short revents) {
  ready_(revents);
}

void TerminalInputWatch::EndWatch(events::WaitBlock& block) {
  std::lock_guard lock(mutex_);
  watchers_.erase(std::find(watchers_.begin(), watchers_.end(), &block));
  if (watchers_.empty()) idle_.notify_all();
}

void TerminalInputWatch::Stop() {
  std::unique_lock lock(mutex_);
  stopped_ = true;
  for (events::WaitBlock* block : watchers_) block->Wake();
  idle_.wait(lock, [this] { return watchers_.empty(); });
}

}  // namespace winapi::driver
