#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "runtime/message_window.h"
#include "runtime/test_support.h"

namespace {

using namespace runtime_test;

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::SetMainThread();
    runtime::SetExceptionDisplay([this](const std::string& message) { shown_.push_back(message); });
  }
  void TearDown() override { runtime::SetExceptionDisplay(nullptr); }

  std::vector<std::string> shown_;
};

TEST_F(ThreadTest, IsCreatedSuspendedAndRunsAfterResume) {
  Signal release;
  std::atomic<bool> ran{false};
  LambdaThread thread([&](LambdaThread&) {
    ran = true;
    release.Wait();
  });
  EXPECT_FALSE(thread.Started());
  EXPECT_EQ(thread.Priority(), THREAD_PRIORITY_NORMAL);
  thread.SetPriority(2);
  EXPECT_EQ(thread.Priority(), 2);
  EXPECT_FALSE(ran);
  thread.Resume();
  thread.Resume();  // a second Resume changes nothing
  EXPECT_TRUE(thread.Started());
  release.Set();
  thread.WaitFor();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(thread.Finished());
  thread.WaitFor();  // waiting again returns at once
}

TEST_F(ThreadTest, TerminateOnlySetsTheFlagThatExecuteWatches) {
  Signal looping;
  LambdaThread thread([&](LambdaThread& self) {
    looping.Set();
    while (!self.Terminated()) {
      std::this_thread::yield();
    }
  });
  thread.Resume();
  ASSERT_TRUE(looping.Wait());
  EXPECT_FALSE(thread.Terminated());
  thread.Terminate();
  EXPECT_TRUE(thread.Terminated());
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
}

TEST_F(ThreadTest, WaitForOnTheMainThreadServesAHandOverOfTheAwaitedThread) {
  const auto main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  LambdaThread thread([&](LambdaThread&) {
    runtime::RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });
  });
  thread.Resume();
  thread.WaitFor();  // would deadlock if it did not serve the queue
  EXPECT_EQ(ran_on, main_id);
}

TEST_F(ThreadTest, WaitForOnTheMainThreadServesSentMessages) {
  int handled = 0;
  HWND window = runtime::AllocateHWnd([&](runtime::Message& message) {
    ++handled;
    message.Result = static_cast<LRESULT>(message.WParam) + 1;
  });
  LRESULT last = 0;
  LambdaThread thread([&](LambdaThread&) {
    for (WPARAM i = 0; i < 5; ++i) last = runtime::SendMessageA(window, WM_USER + 1, i, 0);
  });
  thread.Resume();
  thread.WaitFor();
  runtime::DeallocateHWnd(window);
  EXPECT_EQ(handled, 5);
  EXPECT_EQ(last, 5);
}

TEST_F(ThreadTest, DestroyingAStartedThreadTerminatesAndWaitsWhileServingTheQueue) {
  std::atomic<int> hand_overs{0};
  Signal running;
  bool ended_after_terminate = false;
  {
    LambdaThread thread([&](LambdaThread& self) {
      while (!self.Terminated()) {
        runtime::RunOnMainThread([&] { hand_overs++; });
        if (hand_overs == 1) running.Set();
      }
      ended_after_terminate = self.Terminated();
    });
    thread.Resume();
    // The first hand-over needs the main thread before the thread can report it.
    ASSERT_TRUE(runtime::WaitForMessages(kLimit));
    runtime::ProcessMessages();
    ASSERT_TRUE(running.Wait());
  }  // the destructor stops the thread, serving its hand-overs until it ends
  EXPECT_TRUE(ended_after_terminate);
  EXPECT_FALSE(runtime::ProcessMessages()) << "nothing left behind";
}

TEST_F(ThreadTest, ANeverResumedThreadIsReleasedWithoutWaiting) {
  bool ran = false;
  {
    LambdaThread thread([&](LambdaThread&) { ran = true; });
    EXPECT_THROW(thread.WaitFor(), std::logic_error);
  }
  EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, AThreadCannotWaitForItself) {
  bool refused = false;
  LambdaThread thread([&](LambdaThread& self) {
    try {
      self.WaitFor();
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(refused);
}

TEST_F(ThreadTest, AnotherThreadWaitingDoesNotServeTheMainQueue) {
  // A non-main waiter must still see the end of the thread it waits for.
  Signal release;
  LambdaThread target([&](LambdaThread&) { release.Wait(); });
  bool waited = false;
  LambdaThread waiter([&](LambdaThread&) {
    target.WaitFor();
    waited = target.Finished();
  });
  target.Resume();
  waiter.Resume();
  release.Set();
  waiter.WaitFor();
  EXPECT_TRUE(waited);
}

TEST_F(ThreadTest, AnExceptionLeavingExecuteIsKeptNotShown) {
  Signal release;
  LambdaThread thread([&](LambdaThread&) {
    release.Wait();
    throw std::runtime_error("event thread failed");
  });
  thread.Resume();
  EXPECT_FALSE(thread.FatalException()) << "nothing to report while it runs";
  release.Set();
  thread.WaitFor();
  std::exception_ptr fatal = thread.FatalException();
  ASSERT_TRUE(fatal);
  EXPECT_EQ(runtime::ExceptionMessage(fatal), "event thread failed");
  EXPECT_TRUE(shown_.empty());
}

TEST_F(ThreadTest, AHandOverExceptionEndsExecuteAndIsKept) {
  LambdaThread thread([&](LambdaThread&) {
    runtime::RunOnMainThread([] { throw std::invalid_argument("handler raised"); });
  });
  thread.Resume();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::invalid_argument);
  EXPECT_TRUE(shown_.empty());
}

}  // namespace
