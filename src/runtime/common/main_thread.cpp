#include "runtime/main_thread.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "common/main_queue.h"

namespace runtime {

using detail::MainQueue;

void SetMainThread() {
  MainQueue::Instance().SetMainThread();
}

bool IsMainThread() {
  return MainQueue::Instance().IsMainThread();
}

void RunOnMainThread(std::function<void()> call) {
  if (!call) throw std::invalid_argument("RunOnMainThread: empty call");
  if (IsMainThread()) {
    call();
    return;
  }
  auto work = std::make_shared<detail::PendingWork>();
  work->call = std::move(call);
  MainQueue::Instance().SubmitAndWait(work);
  // Take the exception out so that its last reference is dropped on this thread:
  // the main thread may still be releasing its hold on `work`.
  if (std::exception_ptr error = std::move(work->error)) std::rethrow_exception(error);
}

bool ProcessMessages() {
  if (!IsMainThread()) throw std::logic_error("ProcessMessages called outside the main thread");
  return MainQueue::Instance().ServePending();
}

bool WaitForMessages(std::chrono::steady_clock::time_point deadline) {
  if (!IsMainThread()) throw std::logic_error("WaitForMessages called outside the main thread");
  MainQueue& queue = MainQueue::Instance();
  queue.WaitForWork(deadline, nullptr);
  return queue.HasWork();
}

bool WaitForMessages(std::chrono::milliseconds timeout) {
  return WaitForMessages(std::chrono::steady_clock::now() + timeout);
}

void SetWakeUpHook(std::function<void()> hook) {
  MainQueue::Instance().SetWakeUpHook(std::move(hook));
}

}  // namespace runtime
