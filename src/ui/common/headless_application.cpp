#include "ui/headless_application.h"

#include "runtime/main_thread.h"
#include "ui/controls.h"

#include <algorithm>
#include <utility>

namespace ui {

void HeadlessApplication::ProcessMessages() {
  runtime::ProcessMessages();
  // A tick handler may add or remove timers (or process messages itself): each timer is
  // looked up again before it fires.
  std::vector<Timer*> timers;
  for (const Slot& slot : slots_) timers.push_back(slot.timer);
  for (Timer* timer : timers) {
    Slot* slot = Find(*timer);
    if (!slot) continue;
    const auto now = Clock::now();
    if (!Sync(*slot, now) || now < Due(*slot)) continue;
    const auto elapsed = now - slot->start;
    slot->next = elapsed / std::chrono::milliseconds(slot->interval) + 1;
    ++slot->fired;
    timer->Tick();
  }
}

void HeadlessApplication::WaitForMessage(std::chrono::milliseconds limit) {
  const auto now = Clock::now();
  auto deadline = now + limit;
  for (Slot& slot : slots_) {
    if (Sync(slot, now)) deadline = std::min(deadline, Due(slot));
  }
  if (deadline <= now) return;
  runtime::WaitForMessages(deadline);
}

void HeadlessApplication::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  if (OnShowMessage) OnShowMessage(text);
}

void HeadlessApplication::ShowError(const std::string& text) {
  errors_.push_back(text);
  if (OnShowError) OnShowError(text);
}

void HeadlessApplication::ClearDialogs() {
  messages_.clear();
  errors_.clear();
}

void HeadlessApplication::AddTimer(Timer& timer) {
  if (Find(timer)) return;
  slots_.push_back(Slot{&timer, Clock::now()});
  Sync(slots_.back(), slots_.back().start);
  // A timer woken between two passes ticks on its grid from the moment of the wake.
  timer.SetWatcher([this](Control& changed) {
    if (Slot* slot = Find(static_cast<Timer&>(changed))) Sync(*slot, Clock::now());
  });
}

void HeadlessApplication::RemoveTimer(Timer& timer) {
  if (!Find(timer)) return;
  timer.SetWatcher({});
  std::erase_if(slots_, [&](const Slot& slot) { return slot.timer == &timer; });
}

std::int64_t HeadlessApplication::TicksFired(const Timer& timer) const {
  const Slot* slot = Find(timer);
  return slot ? slot->fired : 0;
}

std::optional<HeadlessApplication::Clock::time_point> HeadlessApplication::NextTickDue(
    const Timer& timer) {
  Slot* slot = Find(timer);
  if (!slot || !Sync(*slot, Clock::now())) return std::nullopt;
  return Due(*slot);
}

bool HeadlessApplication::RunUntil(const std::function<bool()>& done,
                                   std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    ProcessMessages();
    if (done()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    WaitForMessage(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                   std::chrono::milliseconds(1));
  }
}

HeadlessApplication::Slot* HeadlessApplication::Find(const Timer& timer) {
  return const_cast<Slot*>(std::as_const(*this).Find(timer));
}

const HeadlessApplication::Slot* HeadlessApplication::Find(const Timer& timer) const {
  for (const Slot& slot : slots_) {
    if (slot.timer == &timer) return &slot;
  }
  return nullptr;
}

bool HeadlessApplication::Sync(Slot& slot, Clock::time_point now) {
  const bool canTick = slot.timer->CanTick();
  if (canTick && (!slot.running || slot.interval != slot.timer->Interval())) {
    slot.start = now;
    slot.interval = slot.timer->Interval();
    slot.next = 1;
  }
  slot.running = canTick;
  if (!canTick) return false;
  const bool asleep = slot.timer->Asleep();
  if (slot.asleep && !asleep) {
    // The grid points passed while asleep are not made up.
    const auto elapsed = now - slot.start;
    slot.next = std::max(slot.next, elapsed / std::chrono::milliseconds(slot.interval) + 1);
  }
  slot.asleep = asleep;
  return !asleep;
}

HeadlessApplication::Clock::time_point HeadlessApplication::Due(const Slot& slot) {
  return slot.start + slot.next * std::chrono::milliseconds(slot.interval);
}

}  // namespace ui
