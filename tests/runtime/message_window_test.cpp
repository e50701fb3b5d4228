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

constexpr UINT kPortEvent = WM_USER + 1;

class MessageWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::SetMainThread();
    runtime::SetExceptionDisplay([this](const std::string& message) { shown_.push_back(message); });
  }
  void TearDown() override {
    for (HWND window : windows_) runtime::DeallocateHWnd(window);
    runtime::SetExceptionDisplay(nullptr);
    runtime::SetWakeUpHook(nullptr);
  }
  HWND Allocate(runtime::MessageHandler handler) {
    windows_.push_back(runtime::AllocateHWnd(std::move(handler)));
    return windows_.back();
  }

  std::vector<std::string> shown_;
  std::vector<HWND> windows_;
};

TEST_F(MessageWindow, SentFromAnotherThreadRunsOnTheOwnerAndReturnsTheResult) {
  const auto main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  BOOL in_send = FALSE;
  runtime::Message seen;
  HWND window = Allocate([&](runtime::Message& message) {
    ran_on = std::this_thread::get_id();
    in_send = runtime::InSendMessage();
    seen = message;
    message.Result = 1234;
  });
  LRESULT result = 0;
  LambdaThread sender(
      [&](LambdaThread&) { result = runtime::SendMessageA(window, kPortEvent, 0x0080, -5); });
  sender.Resume();
  ASSERT_TRUE(runtime::WaitForMessages(kLimit));
  EXPECT_TRUE(runtime::ProcessMessages());
  sender.WaitFor();
  EXPECT_EQ(ran_on, main_id);
  EXPECT_TRUE(in_send);
  EXPECT_EQ(seen.Msg, kPortEvent);
  EXPECT_EQ(seen.WParam, 0x0080u);
  EXPECT_EQ(seen.LParam, -5);
  EXPECT_EQ(result, 1234);
  EXPECT_FALSE(runtime::InSendMessage()) << "only true inside the handler";
}

TEST_F(MessageWindow, SentOnTheOwnerThreadRunsDirectly) {
  BOOL in_send = TRUE;
  BOOL replied = TRUE;
  HWND window = Allocate([&](runtime::Message& message) {
    in_send = runtime::InSendMessage();
    replied = runtime::ReplyMessage(5);
    message.Result = static_cast<LRESULT>(message.WParam) * 2;
  });
  EXPECT_EQ(runtime::SendMessageA(window, kPortEvent, 21, 0), 42);
  EXPECT_FALSE(in_send);
  EXPECT_FALSE(replied) << "nobody waits for a reply on the same thread";
  EXPECT_FALSE(runtime::ProcessMessages()) << "nothing was queued";
}

TEST_F(MessageWindow, OwnSendInsideACrossThreadHandlerIsNotInSendMessage) {
  BOOL inner_in_send = TRUE;
  BOOL outer_after_inner = FALSE;
  HWND inner = Allocate([&](runtime::Message&) { inner_in_send = runtime::InSendMessage(); });
  HWND outer = Allocate([&](runtime::Message&) {
    runtime::SendMessageA(inner, kPortEvent, 0, 0);
    outer_after_inner = runtime::InSendMessage();
  });
  LambdaThread sender([&](LambdaThread&) { runtime::SendMessageA(outer, kPortEvent, 0, 0); });
  sender.Resume();
  sender.WaitFor();
  EXPECT_FALSE(inner_in_send);
  EXPECT_TRUE(outer_after_inner);
}

TEST_F(MessageWindow, AHandOverServedInsideAHandlerIsNotInSendMessage) {
  Signal message_queued;
  runtime::SetWakeUpHook([&] { message_queued.Set(); });
  BOOL in_hand_over = TRUE;
  BOOL in_handler_after = FALSE;
  Signal hand_over_may_start;
  HWND window = Allocate([&](runtime::Message&) {
    hand_over_may_start.Set();
    runtime::WaitForMessages(kLimit);  // the hand-over
    runtime::ProcessMessages();
    in_handler_after = runtime::InSendMessage();
  });
  LambdaThread sender([&](LambdaThread&) { runtime::SendMessageA(window, kPortEvent, 0, 0); });
  LambdaThread handing_over([&](LambdaThread&) {
    hand_over_may_start.Wait();
    runtime::RunOnMainThread([&] { in_hand_over = runtime::InSendMessage(); });
  });
  sender.Resume();
  ASSERT_TRUE(message_queued.Wait()) << "the wake-up hook also announces sent messages";
  runtime::SetWakeUpHook(nullptr);
  handing_over.Resume();
  runtime::ProcessMessages();
  sender.WaitFor();
  handing_over.WaitFor();
  EXPECT_FALSE(in_hand_over);
  EXPECT_TRUE(in_handler_after);
}

TEST_F(MessageWindow, ReplyMessageReleasesTheSenderWhileTheHandlerGoesOn) {
  Signal sender_returned;
  BOOL first_reply = FALSE;
  BOOL second_reply = TRUE;
  bool sender_released_early = false;
  bool handler_finished = false;
  HWND window = Allocate([&](runtime::Message& message) {
    first_reply = runtime::ReplyMessage(7);
    second_reply = runtime::ReplyMessage(8);
    sender_released_early = sender_returned.Wait();
    message.Result = 99;  // too late: the sender has its answer
    handler_finished = true;
  });
  LRESULT result = 0;
  LambdaThread sender([&](LambdaThread&) {
    result = runtime::SendMessageA(window, kPortEvent, 1, 0);
    sender_returned.Set();
  });
  sender.Resume();
  ASSERT_TRUE(runtime::WaitForMessages(kLimit));
  runtime::ProcessMessages();
  sender.WaitFor();
  EXPECT_TRUE(first_reply);
  EXPECT_FALSE(second_reply);
  EXPECT_TRUE(sender_released_early);
  EXPECT_TRUE(handler_finished);
  EXPECT_EQ(result, 7);
  EXPECT_FALSE(runtime::ReplyMessage(1)) << "outside any handler";
}

TEST_F(MessageWindow, DefWindowProcAHandlesOtherMessagesWithZero) {
  HWND window = nullptr;
  window = Allocate([&](runtime::Message& message) {
    if (message.Msg == kPortEvent) {
      message.Result = 1;
    } else {
      message.Result = runtime::DefWindowProcA(window, message.Msg, message.WParam, message.LParam);
    }
  });
  EXPECT_EQ(runtime::SendMessageA(window, kPortEvent, 0, 0), 1);
  EXPECT_EQ(runtime::SendMessageA(window, 0x0010, 3, 4), 0);
  EXPECT_EQ(runtime::DefWindowProcA(nullptr, 0, 0, 0), 0);
}

TEST_F(MessageWindow, ADeallocatedWindowRunsNothingAndReturnsZero) {
  int calls = 0;
  HWND window = runtime::AllocateHWnd([&](runtime::Message& message) {
    ++calls;
    message.Result = 1;
  });
  HWND other = Allocate([](runtime::Message& message) { message.Result = 2; });
  EXPECT_NE(window, other);
  runtime::DeallocateHWnd(window);
  runtime::DeallocateHWnd(window);  // twice is harmless
  EXPECT_EQ(runtime::SendMessageA(window, kPortEvent, 0, 0), 0);
  LRESULT from_thread = -1;
  LambdaThread sender(
      [&](LambdaThread&) { from_thread = runtime::SendMessageA(window, kPortEvent, 0, 0); });
  sender.Resume();
  sender.WaitFor();
  EXPECT_EQ(from_thread, 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(runtime::SendMessageA(other, kPortEvent, 0, 0), 2) << "other windows keep working";
}

TEST_F(MessageWindow, DeallocatingReleasesASenderStillWaitingInTheQueue) {
  bool ran = false;
  HWND window = runtime::AllocateHWnd([&](runtime::Message& message) {
    ran = true;
    message.Result = 1;
  });
  Signal sender_returned;
  LRESULT result = -1;
  LambdaThread sender([&](LambdaThread&) {
    result = runtime::SendMessageA(window, kPortEvent, 0, 0);
    sender_returned.Set();
  });
  sender.Resume();
  ASSERT_TRUE(runtime::WaitForMessages(kLimit));
  runtime::DeallocateHWnd(window);
  EXPECT_TRUE(sender_returned.Wait()) << "the sender must not wait for a window that is gone";
  EXPECT_FALSE(runtime::ProcessMessages()) << "the message left the queue with its window";
  sender.WaitFor();
  EXPECT_FALSE(ran);
  EXPECT_EQ(result, 0);
}

TEST_F(MessageWindow, AHandlerMayDeallocateItsOwnWindow) {
  HWND window = nullptr;
  int calls = 0;
  window = runtime::AllocateHWnd([&](runtime::Message& message) {
    ++calls;
    runtime::DeallocateHWnd(window);
    message.Result = 3;  // the handler still runs to its end
  });
  EXPECT_EQ(runtime::SendMessageA(window, kPortEvent, 0, 0), 3);
  EXPECT_EQ(runtime::SendMessageA(window, kPortEvent, 0, 0), 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(MessageWindow, HandlerErrorsOfCrossThreadMessagesGoToTheErrorDisplay) {
  HWND window = Allocate([](runtime::Message& message) {
    if (message.WParam == 1) throw std::runtime_error("handler failed");
    message.Result = 10;
  });
  LRESULT failed = -1;
  LRESULT next = -1;
  LambdaThread sender([&](LambdaThread&) {
    failed = runtime::SendMessageA(window, kPortEvent, 1, 0);
    next = runtime::SendMessageA(window, kPortEvent, 2, 0);
  });
  sender.Resume();
  sender.WaitFor();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(next, 10);
  EXPECT_FALSE(sender.FatalException()) << "the sender is not affected";
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "handler failed");

  // On the owner thread the call is direct and the error reaches the caller.
  EXPECT_THROW(runtime::SendMessageA(window, kPortEvent, 1, 0), std::runtime_error);
  EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(MessageWindow, OnlyTheMainThreadAllocatesWindows) {
  bool refused = false;
  LambdaThread other([&](LambdaThread&) {
    try {
      runtime::AllocateHWnd([](runtime::Message&) {});
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  other.Resume();
  other.WaitFor();
  EXPECT_TRUE(refused);
  EXPECT_THROW(runtime::AllocateHWnd(nullptr), std::logic_error);
}

}  // namespace
