#include "comport/observer_list.h"

#include "runtime/main_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace comport {

// One published state of the list. A replaced snapshot keeps its successor alive, so
// a snapshot goes only after every older one: once it is gone, so is every walk that
// began before it was replaced.
struct ObserverSnapshot {
  ObserverSnapshot() = default;
  explicit ObserverSnapshot(ObserverList::Entries list) : entries(std::move(list)) {}
  ~ObserverSnapshot();

  ObserverList::Entries entries;
  // Set once, by whoever replaced this snapshot, while still holding it. Stored and
  // taken only through the atomic shared_ptr functions (see the destructor).
  mutable std::shared_ptr<const ObserverSnapshot> successor;
  // Set when this snapshot is destroyed; a removal waits for it.
  std::shared_ptr<std::atomic<bool>> released = std::make_shared<std::atomic<bool>>(false);
};

ObserverSnapshot::~ObserverSnapshot() {
  // Frees the chain one snapshot at a time: a walk held through many registrations
  // would otherwise free it by a recursion as deep as the chain is long. A snapshot
  // that only this chain holds cannot gain a holder: it is no longer current.
  // The use count is read without ordering, so seeing 1 does not make the replacing
  // thread's store of `successor` visible here; the atomic exchange does, because that
  // store came before the replacing thread let go of its hold.
  std::shared_ptr<const ObserverSnapshot> next = std::atomic_exchange(&successor, {});
  while (next && next.use_count() == 1) {
    next = std::atomic_exchange(&next->successor, {});
  }
  released->store(true, std::memory_order_release);
}

namespace {

// Yields first: most walks end within microseconds.
constexpr int kSpinRounds = 64;
constexpr std::chrono::milliseconds kWaitSlice{1};

int& WalksOnThisThread() {
  thread_local int walks = 0;
  return walks;
}

// On the main thread its queue is served meanwhile: the walk being waited for may be
// handing work to the main thread.
void WaitUntilReleased(const std::atomic<bool>& released) {
  const bool onMainThread = runtime::IsMainThread();
  for (int round = 0; !released.load(std::memory_order_acquire); ++round) {
    if (round < kSpinRounds) {
      std::this_thread::yield();
    } else if (onMainThread) {
      runtime::ProcessMessages();
      if (!released.load(std::memory_order_acquire)) runtime::WaitForMessages(kWaitSlice);
    } else {
      std::this_thread::sleep_for(kWaitSlice);
    }
  }
}

}  // namespace

ObserverList::ObserverList() : current_(std::make_shared<const ObserverSnapshot>()) {}

// The atomic free functions rather than std::atomic<std::shared_ptr>: the latter
// releases its internal lock without ordering after a load, which ThreadSanitizer
// rightly reports as a race with the next store.
std::shared_ptr<const ObserverSnapshot> ObserverList::Load() const {
  return std::atomic_load(&current_);
}

bool ObserverList::Replace(std::shared_ptr<const ObserverSnapshot>& expected,
                           std::shared_ptr<const ObserverSnapshot> desired) {
  std::shared_ptr<const ObserverSnapshot> published = desired;
  if (!std::atomic_compare_exchange_strong(&current_, &expected, std::move(desired))) {
    return false;  // another thread changed the list first; `expected` is its list now
  }
  std::atomic_store(&expected->successor, std::move(published));
  return true;
}

void ObserverList::Add(PortObserver* observer) {
  std::shared_ptr<const ObserverSnapshot> expected = Load();
  for (;;) {
    const Entries& now = expected->entries;
    if (std::find(now.begin(), now.end(), observer) != now.end()) return;
    Entries next = now;
    next.push_back(observer);
    if (Replace(expected, std::make_shared<const ObserverSnapshot>(std::move(next)))) return;
  }
}

void ObserverList::Remove(PortObserver* observer) {
  std::shared_ptr<const ObserverSnapshot> expected = Load();
  for (;;) {
    Entries next = expected->entries;
    const auto found = std::find(next.begin(), next.end(), observer);
    if (found == next.end()) return;
    next.erase(found);
    if (Replace(expected, std::make_shared<const ObserverSnapshot>(std::move(next)))) break;
  }
  if (WalksOnThisThread() > 0) return;
  const std::shared_ptr<std::atomic<bool>> released = expected->released;
  expected.reset();
  WaitUntilReleased(*released);
}

ObserverList::Entries ObserverList::Current() const {
  return Load()->entries;
}

ObserverList::Walk::Walk(const ObserverList& list) : snapshot_(list.Load()) {
  ++WalksOnThisThread();
}

ObserverList::Walk::~Walk() {
  --WalksOnThisThread();
}

const ObserverList::Entries& ObserverList::Walk::Observers() const {
  return snapshot_->entries;
}

}  // namespace comport
