// Events and waits. One mutex and condition variable serve every event: waits are short
// and few, and a wait on several events then needs no registration on each of them.
#include "common/handle_table.h"
#include "winapi/winapi.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace winapi {
namespace {

std::mutex& EventMutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& EventSignalled() {
  static std::condition_variable signalled;
  return signalled;
}

class Event final : public handles::Object {
 public:
  Event(bool manualReset, bool signalled) : manualReset(manualReset), signalled(signalled) {}
  const bool manualReset;
  bool signalled;  // under EventMutex()
};

// Checks the wait condition once, consuming what a satisfied wait consumes.
std::optional<DWORD> TrySatisfy(const std::vector<std::shared_ptr<Event>>& events, bool waitAll) {
  if (waitAll) {
    const bool all = std::all_of(events.begin(), events.end(),
                                 [](const auto& event) { return event->signalled; });
    if (!all) return std::nullopt;
    for (const auto& event : events) {
      if (!event->manualReset) event->signalled = false;
    }
    return WAIT_OBJECT_0;
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!events[i]->signalled) continue;
    if (!events[i]->manualReset) events[i]->signalled = false;
    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
  }
  return std::nullopt;
}

BOOL SetSignalled(HANDLE hEvent, bool signalled) {
  auto event = handles::FindAs<Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard lock(EventMutex());
  event->signalled = signalled;
  if (signalled) EventSignalled().notify_all();
  return TRUE;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (lpName && *lpName) {
    // Named events would be shared between processes; nothing here needs them.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return handles::Insert(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
  return SetSignalled(hEvent, true);
}

BOOL ResetEvent(HANDLE hEvent) {
  return SetSignalled(hEvent, false);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Event>> events;
  for (DWORD i = 0; i < nCount; ++i) {
    auto event = handles::FindAs<Event>(lpHandles[i]);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (bWaitAll && std::find(events.begin(), events.end(), event) != events.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    events.push_back(std::move(event));
  }

  std::unique_lock lock(EventMutex());
  const bool forever = dwMilliseconds == INFINITE;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : dwMilliseconds);
  for (;;) {
    if (auto result = TrySatisfy(events, bWaitAll != FALSE)) return *result;
    if (forever) {
      EventSignalled().wait(lock);
    } else if (EventSignalled().wait_until(lock, deadline) == std::cv_status::timeout) {
      if (auto result = TrySatisfy(events, bWaitAll != FALSE)) return *result;
      return WAIT_TIMEOUT;
    }
  }
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

}  // namespace winapi
