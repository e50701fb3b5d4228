// The one queue between other threads and the main thread, and the table of
// hidden windows. Its mutex guards both, so releasing a window and completing the
// messages still waiting for it happen as one step.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdint>

#include "runtime/message_window.h"
#include "winapi/types.h"

namespace runtime::detail {

// One piece of work waiting for the main thread: a hand-over or a sent message.
struct PendingWork {
  std::function<void()> call;  // hand-over; empty for a message
  HWND window = nullptr;
  Message message;
  std::exception_ptr error;  // of a hand-over, carried back to its caller
  bool replied = false;      // the sender may go (handler ended, replied, or window gone)
};

class MainQueue {
 public:
  static MainQueue& Instance();

  void SetMainThread();
  bool IsMainThread() const;

  // Queues `work`, wakes the main thread and blocks until it is released.
  void SubmitAndWait(const std::shared_ptr<PendingWork>& work);

  // Serves what is queued at entry, one item at a time, so that nested calls
  // go on with the rest in order.
  bool ServePending();

  // Blocks until something is queued, `stop()` holds or the deadline passes.
  // `stop` is evaluated under the queue's lock; see Notify.
  void WaitForWork(std::chrono::steady_clock::time_point deadline,
                   const std::function<bool()>& stop);
  bool HasWork() const;

  // Blocks until `stop()` holds or the deadline passes; queued work does not end it.
  void WaitUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& stop);

  // Wakes WaitForWork so that it re-evaluates its condition. Whatever the
  // condition reads must be changed before calling this.
  void Notify();

  void SetWakeUpHook(std::function<void()> hook);

  HWND AddWindow(MessageHandler handler);
  void RemoveWindow(HWND window);
  std::shared_ptr<MessageHandler> WindowHandler(HWND window) const;

  // Marks the message being handled as answered with `result`; false if it was already.
  bool Reply(PendingWork& work, LRESULT result);

 private:
  MainQueue();
  void Serve(const std::shared_ptr<PendingWork>& work);
  void Release(PendingWork& work);

  mutable std::mutex mutex_;
  std::condition_variable queued_;    // main thread waits for work
  std::condition_variable released_;  // senders wait for their work to be released
  std::deque<std::shared_ptr<PendingWork>> queue_;
  std::map<HWND, std::shared_ptr<MessageHandler>> windows_;
  std::uintptr_t next_window_ = 0;
  std::thread::id main_thread_;
  std::shared_ptr<const std::function<void()>> wake_up_hook_;
};

// The sent message the calling thread is handling, if it came from another thread.
PendingWork*& CurrentSentMessage();

}  // namespace runtime::detail
