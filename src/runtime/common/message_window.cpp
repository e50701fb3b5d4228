#include "runtime/message_window.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "common/main_queue.h"
#include "runtime/main_thread.h"

namespace runtime {

using detail::MainQueue;

HWND AllocateHWnd(MessageHandler handler) {
  if (!handler) throw std::logic_error("AllocateHWnd: empty message handler");
  // Sent messages are served by the main thread's queue, so only it can own windows.
  if (!IsMainThread()) throw std::logic_error("AllocateHWnd called outside the main thread");
  return MainQueue::Instance().AddWindow(std::move(handler));
}

void DeallocateHWnd(HWND window) {
  MainQueue::Instance().RemoveWindow(window);
}

LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  MainQueue& queue = MainQueue::Instance();
  if (queue.IsMainThread()) {
    std::shared_ptr<MessageHandler> handler = queue.WindowHandler(window);
    if (!handler) return 0;
    Message message{msg, wParam, lParam, 0};
    // A direct call is not a message from another thread, even inside a handler of one.
    detail::PendingWork* outer = std::exchange(detail::CurrentSentMessage(), nullptr);
    try {
      (*handler)(message);
    } catch (...) {
      detail::CurrentSentMessage() = outer;
      throw;
    }
    detail::CurrentSentMessage() = outer;
    return message.Result;
  }
  auto work = std::make_shared<detail::PendingWork>();
  work->window = window;
  work->message = Message{msg, wParam, lParam, 0};
  queue.SubmitAndWait(work);
  return work->message.Result;
}

BOOL InSendMessage() {
  return detail::CurrentSentMessage() != nullptr ? TRUE : FALSE;
}

BOOL ReplyMessage(LRESULT result) {
  detail::PendingWork* current = detail::CurrentSentMessage();
  if (current == nullptr) return FALSE;
  return MainQueue::Instance().Reply(*current, result) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

}  // namespace runtime
