#include "gui_qt/close_on_signals.h"

#include "gui_qt/qt_application.h"
#include "gui_qt/qt_window.h"
#include "modal_watch.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(CloseOnSignals, StopSignalsAskTheWindowToCloseAndTheOldHandlersComeBack) {
  gui_qt::QtApplication app;
  ui::Window model{"Stoppable", "Stoppable", {0, 0, 120, 80}, "MS Sans Serif", -11};
  int asked = 0;
  model.OnCloseQuery = [&] {
    ++asked;
    return false;  // busy: the window stays
  };
  gui_qt::QtWindow view(model, app);
  view.Show();
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    gui_qt::CloseOnSignals closer(view.Widget());
    EXPECT_THROW(gui_qt::CloseOnSignals second(view.Widget()), std::logic_error);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
      const int already = asked;
      ASSERT_EQ(::raise(signal), 0);
      EXPECT_TRUE(gui_qt_test::SpinUntil([&] { return asked > already; })) << signal;
    }
    EXPECT_TRUE(view.Widget().isVisible());
    EXPECT_FALSE(app.Terminated());

    model.OnCloseQuery = [] { return true; };
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_TRUE(gui_qt_test::SpinUntil([&] { return !view.Widget().isVisible(); }));
    EXPECT_TRUE(app.Terminated());
  }
  struct sigaction after {};
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
