#include "common/main_queue.h"

#include <utility>

#include "runtime/error_display.h"

namespace runtime::detail {

namespace {

// Touching the queue during static initialisation makes the process's first
// thread the main thread, whoever calls the runtime first later.
[[maybe_unused]] const bool kMainThreadFixed = (MainQueue::Instance(), true);

// Window handles are plain numbers that never point anywhere; skipping low values
// keeps them clear of null and of small integers mistaken for handles.
constexpr std::uintptr_t kFirstWindowHandle = 0x10000;

}  // namespace

PendingWork*& CurrentSentMessage() {
  thread_local PendingWork* current = nullptr;
  return current;
}

MainQueue& MainQueue::Instance() {
  static MainQueue queue;
  return queue;
}

MainQueue::MainQueue() : main_thread_(std::this_thread::get_id()) {}

void MainQueue::SetMainThread() {
  std::lock_guard lock(mutex_);
  main_thread_ = std::this_thread::get_id();
}

bool MainQueue::IsMainThread() const {
  std::lock_guard lock(mutex_);
  return main_thread_ == std::this_thread::get_id();
}

void MainQueue::SubmitAndWait(const std::shared_ptr<PendingWork>& work) {
  std::shared_ptr<const std::function<void()>> hook;
  {
    std::lock_guard lock(mutex_);
    if (!work->call && windows_.count(work->window) == 0) return;  // no window: result 0
    queue_.push_back(work);
    hook = wake_up_hook_;
  }
  queued_.notify_all();
  if (hook) (*hook)();
  std::unique_lock lock(mutex_);
  released_.wait(lock, [&] { return work->replied; });
}

bool MainQueue::ServePending() {
  std::size_t remaining;
  {
    std::lock_guard lock(mutex_);
    remaining = queue_.size();
  }
  bool served = false;
  for (; remaining > 0; --remaining) {
    std::shared_ptr<PendingWork> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;  // a nested call served the rest
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    Serve(work);
    served = true;
  }
  return served;
}

void MainQueue::Serve(const std::shared_ptr<PendingWork>& work) {
  if (work->call) {
    // A hand-over is no sent message, even when served inside a handler of one.
    PendingWork* outer = std::exchange(CurrentSentMessage(), nullptr);
    try {
      work->call();
    } catch (...) {
      work->error = std::current_exception();
    }
    CurrentSentMessage() = outer;
    std::lock_guard lock(mutex_);
    Release(*work);
    return;
  }

  std::shared_ptr<MessageHandler> handler = WindowHandler(work->window);
  Message message = work->message;
  if (handler) {
    PendingWork* outer = std::exchange(CurrentSentMessage(), work.get());
    try {
      (*handler)(message);
    } catch (...) {
      // The sender cannot take it (it may be gone after a reply); the main thread's
      // error display shows it instead, as for any other handler of the main thread.
      HandleException(std::current_exception());
    }
    CurrentSentMessage() = outer;
  }
  std::lock_guard lock(mutex_);
  if (!work->replied) {
    work->message.Result = handler ? message.Result : 0;
    Release(*work);
  }
}

void MainQueue::Release(PendingWork& work) {
  work.replied = true;
  released_.notify_all();
}

bool MainQueue::Reply(PendingWork& work, LRESULT result) {
  std::lock_guard lock(mutex_);
  if (work.replied) return false;
  work.message.Result = result;
  Release(work);
  return true;
}

void MainQueue::WaitForWork(std::chrono::steady_clock::time_point deadline,
                            const std::function<bool()>& stop) {
  std::unique_lock lock(mutex_);
  queued_.wait_until(lock, deadline, [&] { return !queue_.empty() || (stop && stop()); });
}

void MainQueue::WaitUntil(std::chrono::steady_clock::time_point deadline,
                          const std::function<bool()>& stop) {
  std::unique_lock lock(mutex_);
  queued_.wait_until(lock, deadline, stop);
}

bool MainQueue::HasWork() const {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

void MainQueue::Notify() {
  { std::lock_guard lock(mutex_); }  // orders the caller's change before a waiter's check
  queued_.notify_all();
}

void MainQueue::SetWakeUpHook(std::function<void()> hook) {
  auto shared = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
  std::lock_guard lock(mutex_);
  wake_up_hook_ = std::move(shared);
}

HWND MainQueue::AddWindow(MessageHandler handler) {
  auto shared = std::make_shared<MessageHandler>(std::move(handler));
  std::lock_guard lock(mutex_);
  HWND window = reinterpret_cast<HWND>(kFirstWindowHandle + next_window_++);
  windows_.emplace(window, std::move(shared));
  return window;
}

void MainQueue::RemoveWindow(HWND window) {
  std::shared_ptr<MessageHandler> handler;  // destroyed after the lock is left
  std::lock_guard lock(mutex_);
  auto found = windows_.find(window);
  if (found == windows_.end()) return;
  handler = std::move(found->second);
  windows_.erase(found);
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (!(*it)->call && (*it)->window == window) {
      (*it)->message.Result = 0;
      Release(**it);
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

std::shared_ptr<MessageHandler> MainQueue::WindowHandler(HWND window) const {
  std::lock_guard lock(mutex_);
  auto found = windows_.find(window);
  return found == windows_.end() ? nullptr : found->second;
}

}  // namespace runtime::detail
