// Events and waits: the calls, on the event objects of event_object.h.
#include "driver/common/handle_table.h"
#include "driver/linux/event_object.h"
#include "winapi/winapi.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace winapi {
namespace {

using events::Event;

BOOL OnEvent(HANDLE hEvent, void (Event::*change)()) {
  auto event = handles::FindAs<Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ((*event).*change)();
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
  return OnEvent(hEvent, &Event::Set);
}

BOOL ResetEvent(HANDLE hEvent) {
  return OnEvent(hEvent, &Event::Reset);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  // The wait holds the events: one closed meanwhile stays valid for it, as on Windows.
  std::vector<std::shared_ptr<Event>> waited;
  waited.reserve(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    auto event = handles::FindAs<Event>(lpHandles[i]);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (bWaitAll && std::find(waited.begin(), waited.end(), event) != waited.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    waited.push_back(std::move(event));
  }
  return events::Wait(waited, bWaitAll != FALSE, dwMilliseconds);
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
