#include "driver/linux/event_object.h"

#include <algorithm>
#include <chrono>
#include <functional>

namespace winapi::events {

using Clock = std::chrono::steady_clock;

void Event::Set() {
  std::lock_guard lock(mutex_);
  // A signalled event has woken its waiters already; one that waits on, waits for others.
  if (signalled_) return;
  signalled_ = true;
  // Each block is woken while this event's mutex keeps it registered, hence alive.
  for (WaitBlock* waiter : waiters_) waiter->Wake();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

void Event::SetSource(std::shared_ptr<WaitSource> source) {
  std::lock_guard lock(mutex_);
  source_ = std::move(source);
}

void Event::DropSource(const WaitSource* source) {
  std::lock_guard lock(mutex_);
  if (source_.get() == source) source_.reset();
}

std::shared_ptr<Event> EventOf(HANDLE handle) {
  return handles::FindAs<Event>(handle);
}

WaitBlock::Sources SourcesOf(const std::vector<std::shared_ptr<Event>>& events) {
  WaitBlock::Sources sources;
  for (const auto& event : events) {
    std::lock_guard lock(event->mutex_);
    if (event->source_) sources.push_back(event->source_);
  }
  return sources;
}

bool Event::Consume() {
  if (!signalled_) return false;
  if (!manualReset_) signalled_ = false;
  return true;
}

// Keeps a wait block registered with every event of one wait, for the wait's duration.
class Registration {
 public:
  Registration(const std::vector<std::shared_ptr<Event>>& events, WaitBlock& block)
      : events_(events), block_(block) {
    for (const auto& event : events_) {
      std::lock_guard lock(event->mutex_);
      event->waiters_.push_back(&block_);
      ++registered_;
    }
  }
  ~Registration() {
    for (std::size_t i = 0; i < registered_; ++i) {
      Event& event = *events_[i];
      std::lock_guard lock(event.mutex_);
      // A wait may list one event twice; each entry takes one registration away.
      event.waiters_.erase(std::find(event.waiters_.begin(), event.waiters_.end(), &block_));
    }
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  const std::vector<std::shared_ptr<Event>>& events_;
  WaitBlock& block_;
  std::size_t registered_ = 0;
};

std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events, bool waitAll) {
  if (!waitAll) {
    // Lowest index first; an event set behind the scan counts as set after this check.
    for (std::size_t i = 0; i < events.size(); ++i) {
      std::lock_guard lock(events[i]->mutex_);
      if (events[i]->Consume()) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }
    return std::nullopt;
  }
  // All at once, locked in one global order (by address) so that two wait-alls cannot
  // deadlock; the events of a wait-all are distinct.
  std::vector<Event*> ordered;
  ordered.reserve(events.size());
  for (const auto& event : events) ordered.push_back(event.get());
  std::sort(ordered.begin(), ordered.end(), std::less<Event*>());
  std::vector<std::unique_lock<std::mutex>> locks;
  locks.reserve(ordered.size());
  for (Event* event : ordered) locks.emplace_back(event->mutex_);
  const bool all = std::all_of(ordered.begin(), ordered.end(),
                               [](const Event* event) { return event->signalled_; });
  if (!all) return std::nullopt;
  for (Event* event : ordered) event->Consume();
  return WAIT_OBJECT_0;
}

DWORD Wait(const std::vector<std::shared_ptr<Event>>& events, bool waitAll, DWORD milliseconds) {
  if (auto result = TrySatisfy(events, waitAll)) return *result;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  std::optional<Clock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);

  WaitBlock block;
  const Registration registration(events, block);
  for (;;) {
    // Armed before the check: a set that the check misses wakes the sleep that follows.
    block.Arm();
    if (auto result = TrySatisfy(events, waitAll)) return *result;
    // Sources are looked up afresh each round: a wait may end one and begin another.
    if (!block.Sleep(deadline, SourcesOf(events))) {
      return TrySatisfy(events, waitAll).value_or(WAIT_TIMEOUT);
    }
  }
}

}  // namespace winapi::events
