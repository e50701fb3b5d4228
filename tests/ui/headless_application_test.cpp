#include "ui/headless_application.h"

#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "ui/controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kLimit = 10s;

struct Ticking {
  ui::Window window{"W", "w", {}, "F", -11};
  ui::Timer timer{"T", &window, 10};
  std::vector<Clock::time_point> ticks;
  Ticking() {
    timer.OnTimer = [this] { ticks.push_back(Clock::now()); };
  }
};

TEST(HeadlessTimers, TicksKeepToTheGridFromTheStart) {
  ui::HeadlessApplication app;
  Ticking t;
  const auto start = Clock::now();
  app.AddTimer(t.timer);
  ASSERT_TRUE(app.RunUntil([&] { return t.ticks.size() >= 20; }, kLimit));
  // Tick k may come late but never before start + k * interval.
  for (std::size_t k = 0; k < t.ticks.size(); ++k) {
    EXPECT_GE(t.ticks[k] - start, (k + 1) * 10ms) << "tick " << k;
  }
  EXPECT_EQ(app.TicksFired(t.timer), static_cast<std::int64_t>(t.ticks.size()));
}

TEST(HeadlessTimers, ALatePassFiresOneTickAndSkipsToTheNextGridPoint) {
  ui::HeadlessApplication app;
  Ticking t;
  const auto start = Clock::now();
  app.AddTimer(t.timer);
  app.Sleep(55ms);  // at least five intervals missed
  app.ProcessMessages();
  EXPECT_EQ(t.ticks.size(), 1u);
  ASSERT_TRUE(app.RunUntil([&] { return t.ticks.size() == 2; }, kLimit));
  // The missed ticks are not made up: the second one waits for a grid point after the pass.
  EXPECT_GE(t.ticks[1] - start, 60ms);
  EXPECT_GT(t.ticks[1], t.ticks[0]);
}

TEST(HeadlessTimers, DisabledAndRemovedTimersDoNotTick) {
  ui::HeadlessApplication app;
  Ticking t;
  Ticking other;
  app.AddTimer(t.timer);
  app.AddTimer(other.timer);
  t.timer.SetEnabled(false);
  ASSERT_TRUE(app.RunUntil([&] { return other.ticks.size() >= 5; }, kLimit));
  EXPECT_TRUE(t.ticks.empty());

  t.timer.SetEnabled(true);
  ASSERT_TRUE(app.RunUntil([&] { return !t.ticks.empty(); }, kLimit));

  app.RemoveTimer(t.timer);
  const auto seen = t.ticks.size();
  const auto otherSeen = other.ticks.size();
  ASSERT_TRUE(app.RunUntil([&] { return other.ticks.size() >= otherSeen + 5; }, kLimit));
  EXPECT_EQ(t.ticks.size(), seen);
}

TEST(HeadlessTimers, ATickHandlerMayRemoveTimersAndProcessMessages) {
  ui::HeadlessApplication app;
  Ticking a;
  Ticking b;
  a.timer.OnTimer = [&] {
    a.ticks.push_back(Clock::now());
    app.RemoveTimer(b.timer);
    app.RemoveTimer(a.timer);
    app.ProcessMessages();
  };
  app.AddTimer(a.timer);
  app.AddTimer(b.timer);
  ASSERT_TRUE(app.RunUntil([&] { return !a.ticks.empty(); }, kLimit));
  app.Sleep(30ms);
  app.ProcessMessages();
  EXPECT_EQ(a.ticks.size(), 1u);
  EXPECT_EQ(app.TicksFired(b.timer), 0);
}

// Without the grid kept over the sleep, the first tick after a wake would come a full
// interval after the wake instead of at the grid point the timer would have ticked at.
TEST(HeadlessTimers, ASleepingTimerIsNotDueAndWakesOnTheGridItSleptOn) {
  ui::HeadlessApplication app;
  Ticking t;
  Ticking other;
  app.AddTimer(t.timer);
  app.AddTimer(other.timer);
  ASSERT_TRUE(app.RunUntil([&] { return t.ticks.size() >= 2; }, kLimit));
  const auto dueBefore = app.NextTickDue(t.timer);
  ASSERT_TRUE(dueBefore);

  t.timer.Sleep();
  EXPECT_FALSE(app.NextTickDue(t.timer));
  const auto seen = t.ticks.size();
  const auto otherSeen = other.ticks.size();
  ASSERT_TRUE(app.RunUntil([&] { return other.ticks.size() >= otherSeen + 5; }, kLimit));
  EXPECT_EQ(t.ticks.size(), seen);
  EXPECT_TRUE(t.timer.Enabled());

  const auto wokenAt = Clock::now();
  t.timer.Wake();
  const auto dueAfter = app.NextTickDue(t.timer);
  ASSERT_TRUE(dueAfter);
  EXPECT_GT(*dueAfter, wokenAt);
  EXPECT_EQ((*dueAfter - *dueBefore) % 10ms, Clock::duration::zero());
  ASSERT_TRUE(app.RunUntil([&] { return t.ticks.size() > seen; }, kLimit));
  EXPECT_GE(t.ticks[seen], *dueAfter);

  // Enabling a timer starts a fresh grid, also for one that sleeps: it stays asleep.
  t.timer.Sleep();
  t.timer.SetEnabled(false);
  t.timer.SetEnabled(true);
  EXPECT_FALSE(app.NextTickDue(t.timer));
  t.timer.Wake();
  EXPECT_TRUE(app.NextTickDue(t.timer));
}

TEST(HeadlessWaiting, WaitEndsAtTheNextTickNotAtTheLimit) {
  ui::HeadlessApplication app;
  Ticking t;
  app.AddTimer(t.timer);
  // Each wait returns once a tick is due, so a handful of waits sees ticks even though
  // each one could have waited an hour.
  for (int i = 0; i < 5; ++i) {
    app.WaitForMessage(std::chrono::hours(1));
    app.ProcessMessages();
  }
  EXPECT_GE(t.ticks.size(), 4u);
}

TEST(HeadlessWaiting, WaitWakesForAHandOverAndProcessingRunsIt) {
  ui::HeadlessApplication app;
  std::atomic<bool> ran{false};
  std::thread other([&] { runtime::RunOnMainThread([&] { ran = true; }); });
  app.WaitForMessage(std::chrono::hours(1));
  ASSERT_TRUE(app.RunUntil([&] { return ran.load(); }, kLimit));
  other.join();
}

TEST(HeadlessDialogs, MessagesAndErrorsAreRecordedAndHooksRunWhileOpen) {
  ui::HeadlessApplication app;
  std::vector<std::string> seenOpen;
  app.OnShowMessage = [&](const std::string& text) {
    seenOpen.push_back("message " + text + " " + std::to_string(app.Messages().size()));
  };
  app.OnShowError = [&](const std::string& text) { seenOpen.push_back("error " + text); };
  app.ShowMessage("Not connected!");
  app.RunHandler([] { throw std::runtime_error("Unable to open com port"); });
  app.RunHandler([] { throw std::runtime_error("Done!"); });
  EXPECT_EQ(app.Messages(), std::vector<std::string>{"Not connected!"});
  EXPECT_EQ(app.Errors(), (std::vector<std::string>{"Unable to open com port.", "Done!"}));
  EXPECT_EQ(seenOpen, (std::vector<std::string>{"message Not connected! 1",
                                                "error Unable to open com port.", "error Done!"}));
  app.ClearDialogs();
  EXPECT_TRUE(app.Messages().empty());
  EXPECT_TRUE(app.Errors().empty());
}

struct ExplainedFailure : std::runtime_error, runtime::ExplainedError {
  ExplainedFailure(const std::string& message, std::string reason)
      : std::runtime_error(message), reason_(std::move(reason)) {}
  std::string Reason() const override { return reason_; }
  std::string reason_;
};

TEST(HeadlessDialogs, AnErrorThatSaysWhyShowsTheReasonAsASecondParagraph) {
  ui::HeadlessApplication app;
  app.RunHandler([] { throw ExplainedFailure("Unable to open com port", "/dev/ttyS4: missing"); });
  app.RunHandler([] { throw ExplainedFailure("Done!", ""); });
  EXPECT_EQ(app.Errors(), (std::vector<std::string>{
                              "Unable to open com port.\r\n\r\n/dev/ttyS4: missing", "Done!"}));
}

}  // namespace
