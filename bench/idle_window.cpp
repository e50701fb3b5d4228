// How often the idle configurator window wakes: its window on the Qt back end (offscreen
// unless QT_QPA_PLATFORM says otherwise) sits in Qt's event loop with no frame open, and
// the main thread's Timer1 ticks and wake-ups (voluntary context switches) are counted
// over a few seconds: after start-up, after a read of the emulated device on a virtual
// line, the same without the caret blinking in the focused port box, and, for comparison,
// with Timer1 kept ticking as a timer that never sleeps does.
//
//   idle_window [seconds]
#include "process_usage.h"

#include "configurator/form_pzrq480.h"
#include "device/virtual_line_device.h"
#include "gui_qt/qt_application.h"
#include "gui_qt/qt_window.h"
#include "runtime/main_thread.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// A voluntary context switch of the main thread is one wake-up: it blocked and was woken.
bench::Usage MainThreadUsage() {
  return bench::ProcessUsage(RUSAGE_THREAD);
}

// Runs Qt's event loop for `duration`; one single-shot timer ends it (one wake-up).
void RunLoop(std::chrono::milliseconds duration) {
  QTimer::singleShot(duration, [] { QCoreApplication::exit(0); });
  QApplication::exec();
}

void Measure(const char* what, configurator::TFormPZRQ480& form, const std::int64_t& ticks,
             double seconds) {
  // Whatever the previous phase left pending ends first.
  RunLoop(std::chrono::milliseconds(200));
  const std::int64_t ticksBefore = ticks;
  const bench::Usage before = MainThreadUsage();
  const auto start = Clock::now();
  RunLoop(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const bench::Usage after = MainThreadUsage();
  // The single shot that ends the loop is not counted.
  const long wakeUps = std::max(0L, after.voluntarySwitches - before.voluntarySwitches - 1);
  std::printf("%-34s %9.1f %12.1f %10.2f   %s\n", what,
              static_cast<double>(ticks - ticksBefore) / wall, static_cast<double>(wakeUps) / wall,
              (after.cpuMs - before.cpuMs) / wall, form.Timer1.Asleep() ? "asleep" : "ticking");
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: idle_window [seconds]\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  runtime::SetMainThread();
  int qtArgc = 1;
  QApplication qtApp(qtArgc, argv);
  device::VirtualLineDevice dev("BENCH_IDLE_WINDOW");
  gui_qt::QtApplication app;
  configurator::TFormPZRQ480 form(app);
  gui_qt::QtWindow window(form.Window(), app);
  std::int64_t ticks = 0;
  const auto handler = form.Timer1.OnTimer;
  form.Timer1.OnTimer = [&] {
    ++ticks;
    handler();
  };
  app.RunHandler([&] { form.FormCreate(); });
  window.Show();
  form.cbPort.Add("BENCH_IDLE_WINDOW");
  form.cbPort.SetItemIndex(static_cast<int>(form.cbPort.Items().size()) - 1);

  std::printf("idle window on Qt (%s), %.1f s per figure\n",
              QApplication::platformName().toStdString().c_str(), seconds);
  std::printf("%-34s %9s %12s %10s   %s\n", "", "ticks/s", "wake-ups/s", "cpu ms/s", "Timer1");
  Measure("after start-up", form, ticks, seconds);

  app.RunHandler([&] { form.btnReadClick(); });
  if (form.LastRead.version.status != configurator::ReplyStatus::Good) {
    std::fprintf(stderr, "the emulated device did not answer the read\n");
    return 1;
  }
  Measure("after a read", form, ticks, seconds);
  // What is left is the caret of the focused port box blinking: Qt's own timer, as in any
  // Qt window whose text field has the focus.
  QApplication::setCursorFlashTime(0);
  Measure("after a read, caret not blinking", form, ticks, seconds);

  // As before the timer slept: every tick wakes it again.
  form.Timer1.OnTimer = [&] {
    ++ticks;
    handler();
    form.Timer1.Wake();
  };
  form.Timer1.Wake();
  Measure("Timer1 kept ticking (comparison)", form, ticks, seconds);
  return 0;
}
