#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "runtime/main_thread.h"
#include "runtime/test_support.h"

namespace {

using namespace runtime_test;

class HandOver : public ::testing::Test {
 protected:
  void SetUp() override { runtime::SetMainThread(); }
  void TearDown() override { runtime::SetWakeUpHook(nullptr); }
};

struct DeviceFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST_F(HandOver, RunsOnTheMainThreadWhileTheCallerWaits) {
  const auto main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  std::atomic<bool> caller_returned{false};
  bool caller_saw_result = false;
  LambdaThread worker([&](LambdaThread&) {
    int value = 0;
    runtime::RunOnMainThread([&] {
      ran_on = std::this_thread::get_id();
      value = 42;
    });
    caller_saw_result = value == 42;
    caller_returned = true;
  });
  worker.Resume();

  ASSERT_TRUE(runtime::WaitForMessages(kLimit));
  EXPECT_FALSE(caller_returned) << "the caller must wait until the main thread has run the call";
  EXPECT_TRUE(runtime::ProcessMessages());
  worker.WaitFor();
  EXPECT_EQ(ran_on, main_id);
  EXPECT_TRUE(caller_saw_result);
  EXPECT_FALSE(runtime::ProcessMessages()) << "nothing left to serve";
}

TEST_F(HandOver, ExceptionsReturnToTheCallerWithTypeAndMessage) {
  std::string caught;
  bool unknown_caught = false;
  LambdaThread worker([&](LambdaThread&) {
    try {
      runtime::RunOnMainThread([] { throw DeviceFault("line dropped"); });
    } catch (const DeviceFault& e) {
      caught = e.what();
    }
    try {
      runtime::RunOnMainThread([] { throw 7; });
    } catch (int code) {
      unknown_caught = code == 7;
    }
  });
  worker.Resume();
  worker.WaitFor();  // serves both hand-overs
  EXPECT_EQ(caught, "line dropped");
  EXPECT_TRUE(unknown_caught);
  EXPECT_FALSE(worker.FatalException());
}

TEST_F(HandOver, RunsDirectlyOnTheMainThread) {
  bool ran = false;
  runtime::RunOnMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(runtime::ProcessMessages());
  EXPECT_THROW(runtime::RunOnMainThread([] { throw DeviceFault("direct"); }), DeviceFault);
  EXPECT_THROW(runtime::RunOnMainThread(nullptr), std::invalid_argument);
}

TEST_F(HandOver, WakeUpHookFiresWhenSomethingIsQueued) {
  std::atomic<int> wake_ups{0};
  Signal woken;
  runtime::SetWakeUpHook([&] {
    if (wake_ups.fetch_add(1) == 0) woken.Set();
  });
  bool ran = false;
  LambdaThread worker([&](LambdaThread&) { runtime::RunOnMainThread([&] { ran = true; }); });
  worker.Resume();
  ASSERT_TRUE(woken.Wait());
  EXPECT_FALSE(ran) << "the hook only announces the work";
  worker.WaitFor();
  EXPECT_TRUE(ran);
  EXPECT_EQ(wake_ups, 1);

  runtime::SetWakeUpHook(nullptr);
  LambdaThread second([&](LambdaThread&) { runtime::RunOnMainThread([] {}); });
  second.Resume();
  second.WaitFor();
  EXPECT_EQ(wake_ups, 1) << "a removed hook is not called";
}

TEST_F(HandOver, WaitForMessagesReturnsAtTheDeadlineWhenNothingIsQueued) {
  EXPECT_FALSE(runtime::WaitForMessages(std::chrono::milliseconds(1)));
}

TEST_F(HandOver, MainThreadOnlyCallsRefuseOtherThreads) {
  bool process_refused = false;
  bool wait_refused = false;
  LambdaThread worker([&](LambdaThread&) {
    EXPECT_FALSE(runtime::IsMainThread());
    try {
      runtime::ProcessMessages();
    } catch (const std::logic_error&) {
      process_refused = true;
    }
    try {
      runtime::WaitForMessages(std::chrono::milliseconds(1));
    } catch (const std::logic_error&) {
      wait_refused = true;
    }
  });
  worker.Resume();
  worker.WaitFor();
  EXPECT_TRUE(runtime::IsMainThread());
  EXPECT_TRUE(process_refused);
  EXPECT_TRUE(wait_refused);
}

TEST_F(HandOver, AHandlerThatProcessesMessagesServesTheNextCallNestedInOrder) {
  std::atomic<int> queued{0};
  Signal both_queued;
  runtime::SetWakeUpHook([&] {
    if (++queued == 2) both_queued.Set();
  });
  std::string order;
  auto nesting_call = [&](char name) {
    return [&order, name](LambdaThread&) {
      runtime::RunOnMainThread([&order, name] {
        order += name;
        runtime::ProcessMessages();
        order += static_cast<char>(name - 'a' + 'A');
      });
    };
  };
  LambdaThread first(nesting_call('a'));
  LambdaThread second(nesting_call('b'));
  first.Resume();
  second.Resume();
  ASSERT_TRUE(both_queued.Wait());
  EXPECT_TRUE(runtime::ProcessMessages());
  first.WaitFor();
  second.WaitFor();
  // Whichever came first runs outside, the other nested inside it, each once.
  EXPECT_TRUE(order == "abBA" || order == "baAB") << order;
}

}  // namespace
