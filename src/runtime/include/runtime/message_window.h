// Hidden message windows: a handle whose messages reach a handler on the main
// thread. A message sent from another thread waits in the main thread's queue and
// its sender blocks until the handler returns or replies early.
//
// On Windows the system declares functions of the same names in the global
// namespace; always call these qualified (runtime::SendMessageA), since an
// unqualified call with an HWND argument is ambiguous there.
#pragma once

#include <functional>

#include "winapi/types.h"

namespace runtime {

struct Message {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

using MessageHandler = std::function<void(Message&)>;

// Main thread only (the window belongs to the main thread). Throws
// std::logic_error when called from another thread or with an empty handler.
HWND AllocateHWnd(MessageHandler handler);

// Any thread. Messages still waiting for the window return 0 to their senders
// without running; a handler that is running finishes. Unknown handles are ignored.
void DeallocateHWnd(HWND window);

// On the main thread: calls the handler directly. From another thread: queues the
// message, wakes the main thread and blocks until the handler returns or calls
// ReplyMessage. Returns 0 for a window that does not exist (or is released before
// its message is handled). An exception leaving a handler of a message sent from
// another thread goes to the application's error display and the sender gets the
// result so far; on the main thread's own sends it propagates to the caller.
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// True inside a handler that is handling a message sent from another thread.
BOOL InSendMessage();

// Inside such a handler: releases the sender at once with `result`; the handler
// goes on. Returns FALSE (and does nothing) elsewhere or after a first reply.
BOOL ReplyMessage(LRESULT result);

// The default handling of any message: nothing, result 0.
LRESULT DefWindowProcA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace runtime
