// The application services: title, timers, the runtime's queue and the modal dialogs.
#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace gui_win32::testing {
namespace {

class Application : public ::testing::Test {
 protected:
  void SetUp() override { runtime::SetMainThread(); }
  void TearDown() override { DiscardQuit(); }
};

TEST_F(Application, TitleIsTheTextOfTheApplicationWindow) {
  RecordingApplication app;
  app.SetTitle("PZ-RQ480 PC interface configurator");
  EXPECT_EQ(TextOf(app.Handle()), "PZ-RQ480 PC interface configurator");
  // The application window is the one with the task-bar button.
  EXPECT_TRUE(GetWindowLongPtrA(app.Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_EQ(GetWindow(app.Handle(), GW_OWNER), nullptr);
}

TEST_F(Application, TimersTickWhileEnabledAndStopWhenDisabledOrRemoved) {
  RecordingApplication app;
  ui::Window root{"root", "", {0, 0, 10, 10}, "MS Sans Serif", -11};
  ui::Timer ticking{"ticking", &root, 10};
  ui::Timer idle{"idle", &root, 10};
  int ticks = 0;
  int idleTicks = 0;
  ticking.OnTimer = [&] { ++ticks; };
  idle.OnTimer = [&] { ++idleTicks; };
  idle.SetEnabled(false);
  app.AddTimer(ticking);
  app.AddTimer(idle);
  EXPECT_TRUE(app.TimerRunning(ticking));
  EXPECT_FALSE(app.TimerRunning(idle));
  ASSERT_TRUE(PumpUntil(app, [&] { return ticks >= 5; }));
  EXPECT_EQ(idleTicks, 0);

  // Enabling it later starts it; disabling the other stops that one.
  idle.SetEnabled(true);
  ticking.SetEnabled(false);
  EXPECT_FALSE(app.TimerRunning(ticking));
  const int stoppedAt = ticks;
  ASSERT_TRUE(PumpUntil(app, [&] { return idleTicks >= 5; }));
  EXPECT_EQ(ticks, stoppedAt);

  app.RemoveTimer(idle);
  EXPECT_FALSE(app.TimerRunning(idle));
  // A zero interval never ticks.
  ticking.SetInterval(0);
  ticking.SetEnabled(true);
  EXPECT_FALSE(app.TimerRunning(ticking));
}

// Without the mend, a sleeping timer keeps its window timer and wakes the thread.
TEST_F(Application, ASleepingTimerHasNoWindowTimerUntilItIsWoken) {
  RecordingApplication app;
  ui::Window root{"root", "", {0, 0, 10, 10}, "MS Sans Serif", -11};
  ui::Timer timer{"timer", &root, 10};
  ui::Timer side{"side", &root, 10};
  int ticks = 0;
  int sideTicks = 0;
  timer.OnTimer = [&] {
    if (++ticks == 3) timer.Sleep();
  };
  side.OnTimer = [&] { ++sideTicks; };
  app.AddTimer(timer);
  app.AddTimer(side);
  ASSERT_TRUE(PumpUntil(app, [&] { return timer.Asleep(); }));
  EXPECT_FALSE(app.TimerRunning(timer));
  const int sideSeen = sideTicks;
  ASSERT_TRUE(PumpUntil(app, [&] { return sideTicks >= sideSeen + 5; }));
  EXPECT_EQ(ticks, 3);

  timer.Wake();
  EXPECT_TRUE(app.TimerRunning(timer));
  ASSERT_TRUE(PumpUntil(app, [&] { return ticks >= 6; }));
  EXPECT_TRUE(app.TimerRunning(timer));

  // Disabled while asleep and enabled again: still asleep until woken.
  timer.Sleep();
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  EXPECT_FALSE(app.TimerRunning(timer));
  timer.Wake();
  EXPECT_TRUE(app.TimerRunning(timer));
}

TEST_F(Application, AnErrorInATimerTickGoesToTheErrorDisplay) {
  RecordingApplication app;
  ui::Window root{"root", "", {0, 0, 10, 10}, "MS Sans Serif", -11};
  ui::Timer timer{"timer", &root, 10};
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    throw std::runtime_error("tick failed");
  };
  app.AddTimer(timer);
  ASSERT_TRUE(PumpUntil(app, [&] { return !app.errors.empty(); }));
  EXPECT_EQ(app.errors[0], "tick failed.");
}

TEST_F(Application, HandOverFromAnotherThreadRunsInTheMessageLoop) {
  RecordingApplication app;
  std::atomic<bool> ran{false};
  std::thread other([&] { runtime::RunOnMainThread([&] { ran = true; }); });
  // Waiting for messages wakes up for the queued hand-over.
  EXPECT_TRUE(PumpUntil(app, [&] { return ran.load(); }));
  other.join();

  // So does the message loop itself, through the posted wake-up.
  std::thread again([&] { runtime::RunOnMainThread([&] { app.Terminate(); }); });
  EXPECT_EQ(app.Run(), 0);
  again.join();
}

TEST_F(Application, AnErrorFromAHandOverGoesToTheErrorDisplay) {
  RecordingApplication app;
  runtime::HandleException(std::make_exception_ptr(std::runtime_error("COM5 Error: broken")));
  ASSERT_EQ(app.errors.size(), 1u);
  EXPECT_EQ(app.errors[0], "COM5 Error: broken.");
}

// The message box this thread shows, once it is up.
HWND FindMessageBox(const std::string& caption) {
  struct Search {
    std::string caption;
    HWND found = nullptr;
  } search{caption};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (ClassOf(window) == "#32770" && TextOf(window) == s.caption && IsWindowVisible(window)) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasIcon(HWND box) {
  bool icon = false;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((StyleOf(child) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
        SendMessageA(child, STM_GETICON, 0, 0) != 0) {
      icon = true;
    }
  }
  return icon;
}

struct BoxSeen {
  bool found = false;
  bool icon = false;
  int okButtons = 0;
  std::string text;
};

// Looks at the box from inside its own modal loop (a timer tick) and closes it.
BoxSeen InspectFromTimer(Win32Application& app, const std::function<void()>& show,
                         const std::function<bool()>& readyToClose) {
  ui::Window root{"root", "", {0, 0, 10, 10}, "MS Sans Serif", -11};
  ui::Timer timer{"timer", &root, 10};
  BoxSeen seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  timer.OnTimer = [&] {
    const HWND box = FindMessageBox(app.Title());
    const bool late = std::chrono::steady_clock::now() > deadline;
    if (!box && !late) return;
    if (box && !seen.found) {
      seen.found = true;
      seen.icon = HasIcon(box);
      for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Button" && IsWindowVisible(child)) ++seen.okButtons;
        if (ClassOf(child) == "Static" && TextOf(child).size() > 1) seen.text = TextOf(child);
      }
    }
    if (readyToClose() || late) {
      timer.SetEnabled(false);
      if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  };
  app.AddTimer(timer);
  show();
  app.RemoveTimer(timer);
  return seen;
}

TEST_F(Application, MessageDialogIsModalWithoutIconAndKeepsTicksAndHandOversRunning) {
  Win32Application app;
  app.SetTitle("Box test");
  std::atomic<bool> handedOver{false};
  std::thread other;
  bool started = false;
  const BoxSeen seen = InspectFromTimer(
      app, [&] { app.ShowMessage("Not connected!"); },
      [&] {
        // The hand-over is queued while the box is open and must run inside its loop.
        if (!started) {
          started = true;
          other = std::thread([&] { runtime::RunOnMainThread([&] { handedOver = true; }); });
        }
        return handedOver.load();
      });
  if (other.joinable()) other.join();
  EXPECT_TRUE(seen.found);
  EXPECT_TRUE(handedOver);
  EXPECT_FALSE(seen.icon);
  EXPECT_EQ(seen.okButtons, 1);
  EXPECT_EQ(seen.text, "Not connected!");
}

TEST_F(Application, ErrorDisplayShowsAStopIconWithTheTitleAsCaption) {
  Win32Application app;
  app.SetTitle("Error box test");
  const BoxSeen seen = InspectFromTimer(
      app, [&] { app.ShowError("COM Port Error: Unable to open com port on COM5."); },
      [] { return true; });
  EXPECT_TRUE(seen.found);
  EXPECT_TRUE(seen.icon);
  EXPECT_EQ(seen.okButtons, 1);
  EXPECT_EQ(seen.text, "COM Port Error: Unable to open com port on COM5.");
}

}  // namespace
}  // namespace gui_win32::testing
