// A blocking call that must not hold up its caller past a deadline (a host lookup with a
// name server that does not answer): it runs on a thread of its own, and a caller whose
// deadline passes goes on without it. The abandoned thread ends when the call returns;
// what it produced is then freed with the last reference.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace winapi::driver {

// Runs `call(Result&)` on a new thread; the filled result, or null once `deadline` passed.
template <typename Result, typename Call>
std::shared_ptr<const Result> CallWithin(Call call,
                                         std::chrono::steady_clock::time_point deadline) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::shared_ptr<const Result> result;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, call = std::move(call)]() mutable {
    auto result = std::make_shared<Result>();
    call(*result);
    std::lock_guard lock(shared->mutex);
    shared->result = std::move(result);
    shared->done.notify_all();
  }).detach();
  std::unique_lock lock(shared->mutex);
  shared->done.wait_until(lock, deadline, [&shared] { return shared->result != nullptr; });
  return shared->result;
}

}  // namespace winapi::driver
