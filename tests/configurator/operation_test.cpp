// One operation at a time, closing during an operation, and waiting without spinning.
#include "form_test_support.h"

namespace configurator::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Operation : public FormTest {
 protected:
  void SetUp() override {
    Create();
    SelectPort("COM3");
  }
  device::VirtualLineDevice dev{"COM3"};
};

// Without the mend, a write clicked during a read starts in the middle of it.
TEST_F(Operation, NeitherButtonStartsAnotherOperationDuringARead) {
  int busyTicks = 0;
  int enabledSeen = 0;
  SideTimer side(app, [&] {
    if (!form->Busy()) return;
    ++busyTicks;
    if (form->btnRead.Enabled() || form->btnWrite.Enabled()) ++enabledSeen;
    Click(form->btnWrite);
    Click(form->btnRead);
  });
  Click(form->btnRead);
  EXPECT_GT(busyTicks, 0);
  EXPECT_EQ(enabledSeen, 0);
  EXPECT_EQ(ReceivedFrames(dev).size(), 6u);  // the read's requests, no write
  EXPECT_EQ(DeviceLists(),
            (std::vector<std::string>{"1", "19200", "1", "1", "General (Lenz, Roco)"}));
  EXPECT_TRUE(form->btnRead.Enabled());
  EXPECT_TRUE(form->btnWrite.Enabled());
}

// Without the mend, the values changed while the write runs reach the device, and a read
// clicked meanwhile clears the lists under it.
TEST_F(Operation, AWriteSendsTheValuesItStartedWithAndKeepsBothButtonsDisabled) {
  form->cbXPAddr.SetText("3");
  form->cbCommStat.SetText("Tran ZF5");
  int enabledSeen = 0;
  int busyTicks = 0;
  SideTimer side(app, [&] {
    if (!form->Busy()) return;
    ++busyTicks;
    if (form->btnRead.Enabled() || form->btnWrite.Enabled()) ++enabledSeen;
    form->cbCommStat.SetItemIndex(0);
    form->cbS88Num.SetText("9");
    Click(form->btnRead);
  });
  Click(form->btnWrite);
  EXPECT_GT(busyTicks, 0);
  EXPECT_EQ(enabledSeen, 0);
  EXPECT_EQ(dev.State().settings, (std::array<std::uint8_t, 5>{3, 1, 65, 1, 1}));
  const auto frames = ReceivedFrames(dev);
  ASSERT_EQ(frames.size(), 12u);  // the version query, five writes and the read-back
  EXPECT_EQ(frames[4], (Bytes{0xF2, 5, 1, 0xF2 ^ 5 ^ 1}));
  EXPECT_EQ(frames[6], (Bytes{0xF0, 0xF0}));
}

TEST_F(Operation, ClosingWhileIdleIsAllowed) {
  ASSERT_TRUE(form->Window().OnCloseQuery);
  EXPECT_TRUE(form->Window().OnCloseQuery());
  EXPECT_FALSE(app.Terminated());
}

// Closing the window during a read abandons it at its next wait, closes the port and ends
// the application; the form can then be freed.
TEST_F(Operation, ClosingDuringAReadEndsItCleanly) {
  std::vector<bool> answers;
  dev.SetObserver([](const device::FrameRecord&) {});
  SideTimer side(app, [&] {
    if (form->Busy() && answers.empty() && ReceivedFrames(dev).size() >= 2) {
      answers.push_back(form->Window().OnCloseQuery());
    }
  });
  Click(form->btnRead);
  ASSERT_EQ(answers, std::vector<bool>{false});
  EXPECT_TRUE(app.Terminated());
  EXPECT_FALSE(form->Busy());
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_LT(ReceivedFrames(dev).size(), 6u);
  EXPECT_EQ(form->LastRead.settings[4].status, ReplyStatus::NotAsked);
  EXPECT_TRUE(app.Errors().empty());
  form.reset();
  EXPECT_FALSE(dev.Line()->IsOpen());
}

TEST_F(Operation, ClosingBeforeTheWriteSendsASettingWritesNothing) {
  std::vector<bool> answers;
  SideTimer side(app, [&] {
    if (form->Busy() && answers.empty()) answers.push_back(form->Window().OnCloseQuery());
  });
  Click(form->btnWrite);
  ASSERT_EQ(answers, std::vector<bool>{false});
  EXPECT_TRUE(app.Terminated());
  EXPECT_FALSE(dev.Line()->IsOpen());
  for (const auto& frame : ReceivedFrames(dev)) EXPECT_NE(frame.size(), 4u);
  EXPECT_TRUE(app.Errors().empty());
  form.reset();
}

// Without the mend the write stops after the first byte: a lone F2 reaches the device.
TEST_F(Operation, ClosingDuringTheSettingFramesFinishesThemThenCloses) {
  form->cbXPAddr.SetText("3");
  std::vector<bool> answers;
  form->OnTrace = [&](bool sent, std::uint8_t b) {
    if (sent && b == 0xF2 && answers.empty()) answers.push_back(form->Window().OnCloseQuery());
  };
  Click(form->btnWrite);
  ASSERT_EQ(answers, std::vector<bool>{false});
  EXPECT_TRUE(app.Terminated());
  EXPECT_FALSE(dev.Line()->IsOpen());
  const auto frames = ReceivedFrames(dev);
  ASSERT_EQ(frames.size(), 6u);  // the version query and the five writes, no read-back
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].size(), 4u);
  EXPECT_EQ(dev.State().settings, (std::array<std::uint8_t, 5>{3, 1, 65, 1, 0}));
  EXPECT_TRUE(app.Errors().empty());
  form.reset();
}

// The read wakes the sleeping Timer1 for each request; once it is over, the timer sleeps
// again and the idle window gets no ticks.
TEST_F(Operation, AfterAReadTheIdleWindowsTimerSleeps) {
  ASSERT_TRUE(app.RunUntil([&] { return form->Timer1.Asleep(); }, kLimit));
  Click(form->btnRead);
  ASSERT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(form->LastRead.settings[4].status, ReplyStatus::Good);
  ASSERT_TRUE(app.RunUntil([&] { return form->Timer1.Asleep(); }, kLimit));
  const auto fired = app.TicksFired(form->Timer1);
  int sideTicks = 0;
  SideTimer side(app, [&] { ++sideTicks; });
  ASSERT_TRUE(app.RunUntil([&] { return sideTicks >= 10; }, kLimit));
  EXPECT_EQ(app.TicksFired(form->Timer1), fired);
}

// A waiting loop that spins makes tens of thousands of passes during a read; one that
// blocks makes about one per timer tick or delivery.
TEST_F(Operation, WaitingForRepliesDoesNotSpin) {
  const auto ticksBefore = app.TicksFired(form->Timer1);
  app.passes = 0;
  Click(form->btnRead);
  ASSERT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  const auto ticks = app.TicksFired(form->Timer1) - ticksBefore;
  EXPECT_GT(ticks, 30);  // six requests, each ended by six silent ticks
  EXPECT_LE(app.passes, 3 * ticks + 100) << "ticks " << ticks;
}

}  // namespace
}  // namespace configurator::testing
