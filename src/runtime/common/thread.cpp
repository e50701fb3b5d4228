#include "runtime/thread.h"

#include <chrono>
#include <stdexcept>

#include "common/main_queue.h"

namespace runtime {

namespace {

// The longest the main thread waits for a thread's end before looking at its
// queue again; it is also woken at once when something is queued or the thread ends.
constexpr std::chrono::milliseconds kWaitSlice{1000};

thread_local const Thread* running_thread = nullptr;

}  // namespace

Thread::~Thread() {
  TerminateAndWait();
  if (thread_.joinable()) thread_.join();
}

void Thread::Resume() {
  if (started_.exchange(true)) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    started_.store(false);  // no thread: nothing to wait for, Resume may be retried
    throw;
  }
}

void Thread::Run() {
  running_thread = this;
  try {
    Execute();
  } catch (...) {
    fatal_ = std::current_exception();
  }
  running_thread = nullptr;
  finished_.store(true);
  detail::MainQueue::Instance().Notify();
}

void Thread::TerminateAndWait() {
  Terminate();
  if (Started()) WaitFor();
}

void Thread::WaitFor() {
  if (running_thread == this) throw std::logic_error("Thread cannot wait for itself");
  if (!Started()) throw std::logic_error("Thread was never started");
  detail::MainQueue& queue = detail::MainQueue::Instance();
  const bool on_main_thread = queue.IsMainThread();
  const auto finished = [this] { return finished_.load(); };
  while (!finished()) {
    const auto slice_end = std::chrono::steady_clock::now() + kWaitSlice;
    if (on_main_thread) {
      queue.ServePending();
      queue.WaitForWork(slice_end, finished);
    } else {
      queue.WaitUntil(slice_end, finished);
    }
  }
}

std::exception_ptr Thread::FatalException() const {
  return finished_.load() ? fatal_ : nullptr;
}

}  // namespace runtime
