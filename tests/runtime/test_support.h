// Helpers shared by the runtime tests: a thread running a lambda and waits with
// generous limits.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <utility>

#include "runtime/thread.h"

namespace runtime_test {

using namespace std::chrono_literals;

inline constexpr std::chrono::seconds kLimit{10};

class LambdaThread : public runtime::Thread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
  ~LambdaThread() override { TerminateAndWait(); }

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

// A one-shot signal between threads.
class Signal {
 public:
  void Set() { promise_.set_value(); }
  bool Wait() { return future_.wait_for(kLimit) == std::future_status::ready; }
  bool IsSet() { return future_.wait_for(0s) == std::future_status::ready; }

 private:
  std::promise<void> promise_;
  std::shared_future<void> future_{promise_.get_future().share()};
};

}  // namespace runtime_test
