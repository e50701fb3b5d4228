#include "gui_qt/qt_application.h"

#include "modal_watch.h"
#include "qstring_print.h"
#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "ui/controls.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using gui_qt::QtApplication;
using gui_qt_test::ModalWatch;
using gui_qt_test::SpinUntil;

struct BoxSeen {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Information;
  QStringList buttons;
  bool okIsDefault = false;
  bool okIsEscape = false;
  bool plainText = false;
  bool appModal = false;
  QPoint centre;
  QPoint screenCentre;
  int width = 0;
  int screenWidth = 0;
};

BoxSeen Describe(QMessageBox& box) {
  BoxSeen seen;
  seen.caption = box.windowTitle();
  seen.text = box.text();
  seen.icon = box.icon();
  for (QAbstractButton* button : box.buttons()) seen.buttons << button->text();
  if (box.buttons().size() == 1) {
    seen.okIsDefault = box.defaultButton() == box.buttons().front();
    seen.okIsEscape = box.escapeButton() == box.buttons().front();
  }
  seen.plainText = box.textFormat() == Qt::PlainText;
  seen.appModal = box.windowModality() == Qt::ApplicationModal;
  seen.centre = box.frameGeometry().center();
  seen.screenCentre = box.screen()->availableGeometry().center();
  seen.width = box.frameGeometry().width();
  seen.screenWidth = box.screen()->availableGeometry().width();
  return seen;
}

class QtApplicationTest : public testing::Test {
 protected:
  QtApplication app;
  ui::Window root{"Root", "Root", {0, 0, 100, 100}, "MS Sans Serif", -11};
};

// --- dialogs ---

TEST_F(QtApplicationTest, MessageDialogShowsTitleTextWithoutIconAndOneOkButton) {
  app.SetTitle("Configurator title");
  BoxSeen seen;
  ModalWatch watch([&](QMessageBox& box) { seen = Describe(box); });
  std::string longLine;
  while (longLine.size() < 400) longLine += "words that wrap ";
  app.ShowMessage("First line\r\n\r\nSecond <b>line</b> " + longLine);
  ASSERT_TRUE(watch.Seen());
  EXPECT_EQ(seen.caption, "Configurator title");
  // Broken into lines at spaces, nowhere else.
  EXPECT_EQ(QString(seen.text).replace('\n', ' '),
            QString::fromStdString("First line  Second <b>line</b> " + longLine));
  EXPECT_TRUE(seen.text.startsWith("First line\n\nSecond <b>line</b> words"))
      << seen.text.toStdString();
  EXPECT_GT(seen.text.count('\n'), 4);
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QStringList{"OK"});
  EXPECT_TRUE(seen.okIsDefault);
  EXPECT_TRUE(seen.okIsEscape);
  EXPECT_TRUE(seen.plainText);
  EXPECT_LT(seen.width, seen.screenWidth);
  EXPECT_TRUE(seen.appModal);
  EXPECT_LE((seen.centre - seen.screenCentre).manhattanLength(), 4);
}

TEST_F(QtApplicationTest, ErrorDisplayHasTheStopIconAndOneOkButton) {
  app.SetTitle("Configurator title");
  BoxSeen seen;
  ModalWatch watch([&](QMessageBox& box) { seen = Describe(box); });
  app.ShowError("COM Port Error: Unable to open com port on COM5.");
  ASSERT_TRUE(watch.Seen());
  EXPECT_EQ(seen.caption, "Configurator title");
  EXPECT_EQ(seen.text, "COM Port Error: Unable to open com port on COM5.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QStringList{"OK"});
  EXPECT_TRUE(seen.okIsDefault);
  EXPECT_TRUE(seen.okIsEscape);
  EXPECT_TRUE(seen.plainText);
}

TEST_F(QtApplicationTest, ErrorLeavingAHandlerIsShownWithTheFullStopAndTheProgramGoesOn) {
  const struct {
    const char* raised;
    const char* shown;
  } cases[] = {
      {"Port failed", "Port failed."},
      {"Not connected!", "Not connected!"},
      {"code (5)", "code (5)"},
  };
  for (const auto& c : cases) {
    BoxSeen seen;
    ModalWatch watch([&](QMessageBox& box) { seen = Describe(box); });
    bool after = false;
    app.RunHandler([&] { throw std::runtime_error(c.raised); });
    app.RunHandler([&] { after = true; });
    ASSERT_TRUE(watch.Seen()) << c.raised;
    EXPECT_EQ(seen.text, c.shown);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_TRUE(after);
  }
}

TEST_F(QtApplicationTest, ErrorsTheRuntimeReportsReachTheErrorDisplay) {
  BoxSeen seen;
  ModalWatch watch([&](QMessageBox& box) { seen = Describe(box); });
  runtime::HandleException(std::make_exception_ptr(std::runtime_error("Delivery failed")));
  ASSERT_TRUE(watch.Seen());
  EXPECT_EQ(seen.text, "Delivery failed.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(QtApplicationTest, TimerTicksAndHandOversGoOnWhileADialogIsOpen) {
  ui::Timer timer("Ticker", &root, 1);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  app.AddTimer(timer);
  for (const bool error : {false, true}) {
    int ticksAtOpen = -1;
    std::atomic<bool> handedOver{false};
    std::thread worker;
    ModalWatch watch(
        [&](QMessageBox&) {
          ticksAtOpen = ticks;
          worker = std::thread([&] { runtime::RunOnMainThread([&] { handedOver = true; }); });
        },
        [&] { return handedOver && ticks >= ticksAtOpen + 3; });
    if (error) {
      app.ShowError("Busy");
    } else {
      app.ShowMessage("Busy");
    }
    if (worker.joinable()) worker.join();
    ASSERT_TRUE(watch.Seen());
    EXPECT_TRUE(handedOver);
    EXPECT_GE(ticks, ticksAtOpen + 3);
  }
  app.RemoveTimer(timer);
}

// --- timers ---

TEST_F(QtApplicationTest, TimerFollowsItsModel) {
  ui::Timer timer("Ticker", &root, 1);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  app.AddTimer(timer);
  QTimer* qtimer = app.TimerOf(timer);
  ASSERT_NE(qtimer, nullptr);
  EXPECT_EQ(qtimer->timerType(), Qt::PreciseTimer);
  EXPECT_TRUE(SpinUntil([&] { return ticks >= 5; }));

  timer.SetEnabled(false);
  EXPECT_FALSE(qtimer->isActive());
  timer.SetInterval(10);
  EXPECT_FALSE(qtimer->isActive());
  timer.SetEnabled(true);
  EXPECT_TRUE(qtimer->isActive());
  EXPECT_EQ(qtimer->interval(), 10);
  timer.SetInterval(0);  // no interval: never ticks
  EXPECT_FALSE(qtimer->isActive());

  app.RemoveTimer(timer);
  EXPECT_EQ(app.TimerOf(timer), nullptr);
}

// Without the mend, a sleeping timer's QTimer keeps waking the event loop.
TEST_F(QtApplicationTest, ASleepingTimerStopsAndWakesOnTheGridItSleptOn) {
  // A long interval: the wake falls well inside the first step of the grid.
  ui::Timer timer("Sleeper", &root, 10000);
  ui::Timer side("Side", &root, 1);
  int ticks = 0;
  int sideTicks = 0;
  timer.OnTimer = [&] { ++ticks; };
  side.OnTimer = [&] { ++sideTicks; };
  app.AddTimer(timer);
  app.AddTimer(side);
  QTimer* qtimer = app.TimerOf(timer);
  ASSERT_NE(qtimer, nullptr);
  timer.Sleep();
  EXPECT_FALSE(qtimer->isActive());
  ASSERT_TRUE(SpinUntil([&] { return sideTicks >= 20; }));

  // Woken some milliseconds into the grid: the first shot ends at the grid's next point,
  // sooner than a whole interval; then the interval is back.
  timer.Wake();
  EXPECT_TRUE(qtimer->isActive());
  EXPECT_LT(qtimer->interval(), 10000);
  EXPECT_GT(qtimer->interval(), 0);

  timer.SetInterval(1);  // a fresh grid
  EXPECT_TRUE(qtimer->isActive());
  EXPECT_EQ(qtimer->interval(), 1);
  timer.Sleep();
  EXPECT_FALSE(qtimer->isActive());
  timer.Wake();
  ASSERT_TRUE(SpinUntil([&] { return ticks >= 3; }));
  EXPECT_EQ(qtimer->interval(), 1);
  EXPECT_TRUE(qtimer->isActive());

  // Disabled while asleep and enabled again: still asleep until woken.
  timer.Sleep();
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  EXPECT_FALSE(qtimer->isActive());
  app.RemoveTimer(timer);
  app.RemoveTimer(side);
}

TEST_F(QtApplicationTest, TimerRemovedInItsOwnTickStops) {
  ui::Timer once("Once", &root, 1);
  ui::Timer other("Other", &root, 1);
  int onceTicks = 0;
  int otherTicks = 0;
  once.OnTimer = [&] {
    ++onceTicks;
    app.RemoveTimer(once);
  };
  other.OnTimer = [&] { ++otherTicks; };
  app.AddTimer(once);
  app.AddTimer(other);
  EXPECT_TRUE(SpinUntil([&] { return onceTicks >= 1 && otherTicks >= 10; }));
  EXPECT_EQ(onceTicks, 1);
  EXPECT_EQ(app.TimerOf(once), nullptr);
  app.RemoveTimer(other);
}

TEST_F(QtApplicationTest, ErrorInATickIsShownAndTheTimerGoesOn) {
  ui::Timer timer("Ticker", &root, 1);
  int ticks = 0;
  timer.OnTimer = [&] {
    if (++ticks == 1) throw std::runtime_error("Tick failed");
  };
  QString shown;
  ModalWatch watch([&](QMessageBox& box) { shown = box.text(); });
  app.AddTimer(timer);
  EXPECT_TRUE(SpinUntil([&] { return watch.Seen() && ticks >= 5; }));
  EXPECT_EQ(shown, "Tick failed.");
  app.RemoveTimer(timer);
}

// --- the runtime's main-thread queue ---

TEST_F(QtApplicationTest, HandOverIsServedByQtsOwnEventLoop) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { runtime::RunOnMainThread([&] { ran = true; }); });
  // Only Qt's processing runs here: the queue is drained through the wake-up hook.
  EXPECT_TRUE(SpinUntil([&] { return ran.load(); }));
  worker.join();
}

TEST_F(QtApplicationTest, HandOverCarriesItsErrorBackToTheCallingThread) {
  std::string error;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      runtime::RunOnMainThread([] { throw std::runtime_error("handler failed"); });
    } catch (const std::exception& e) {
      error = e.what();
    }
    done = true;
  });
  EXPECT_TRUE(SpinUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(error, "handler failed");
}

TEST_F(QtApplicationTest, WaitForMessageReturnsForAHandOver) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { runtime::RunOnMainThread([&] { ran = true; }); });
  const auto deadline = std::chrono::steady_clock::now() + gui_qt_test::kLimit;
  // Each wait would last the full limit if the hand-over did not wake it.
  while (!ran && std::chrono::steady_clock::now() < deadline) {
    app.WaitForMessage(std::chrono::duration_cast<std::chrono::milliseconds>(gui_qt_test::kLimit));
  }
  EXPECT_TRUE(ran);
  worker.join();
}

TEST_F(QtApplicationTest, ProcessMessagesServesQueuedHandOvers) {
  std::atomic<int> ran{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) runtime::RunOnMainThread([&] { ++ran; });
  });
  const auto deadline = std::chrono::steady_clock::now() + gui_qt_test::kLimit;
  while (ran < 50 && std::chrono::steady_clock::now() < deadline) {
    app.ProcessMessages();
    app.WaitForMessage(std::chrono::milliseconds(50));
  }
  worker.join();
  EXPECT_EQ(ran, 50);
}

}  // namespace
