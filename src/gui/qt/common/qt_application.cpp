#include "gui_qt/qt_application.h"

#include "common/message_box.h"
#include "common/queue_wake_up.h"
#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "ui/controls.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace gui_qt {
namespace {

// A timer removed from inside its own tick is deleted once that tick has returned.
const QTimer* g_ticking = nullptr;

}  // namespace

void QtApplication::TimerDeleter::operator()(QTimer* timer) const {
  timer->stop();
  timer->disconnect();
  if (timer == g_ticking) {
    timer->deleteLater();
  } else {
    delete timer;
  }
}

QtApplication::QtApplication() {
  if (!QApplication::instance()) {
    throw std::logic_error("QtApplication needs a QApplication");
  }
  wakeUp_ = std::make_shared<QueueWakeUp>();
  wakeUp_->Install();
  // Errors the runtime reports (a failing port event handler) reach the same error
  // display; widgets exist only on the main thread, so other threads write them out.
  runtime::SetExceptionDisplay([this](const std::string& message) {
    if (runtime::IsMainThread()) {
      ShowError(ui::WithFullStop(message));
    } else {
      std::cerr << message << std::endl;
    }
  });
}

QtApplication::~QtApplication() {
  for (auto& [model, timer] : timers_) const_cast<ui::Timer*>(model)->SetWatcher({});
  timers_.clear();
  runtime::SetExceptionDisplay({});
  wakeUp_->Uninstall();
}

void QtApplication::ProcessMessages() {
  runtime::ProcessMessages();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtApplication::WaitForMessage(std::chrono::milliseconds limit) {
  if (limit.count() <= 0) return;
  // Qt cannot wait without dispatching: this returns after the first events that arrive
  // (a queued hand-over wakes it through the runtime's hook) have been handled, or when
  // the guard timer runs out.
  QTimer guard;
  guard.setSingleShot(true);
  guard.setTimerType(Qt::PreciseTimer);
  guard.start(limit);
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtApplication::ShowMessage(const std::string& text) {
  MakeMessageBox(QMessageBox::NoIcon, Title(), text)->exec();
}

void QtApplication::ShowError(const std::string& text) {
  MakeMessageBox(QMessageBox::Critical, Title(), text)->exec();
}

void QtApplication::AddTimer(ui::Timer& model) {
  if (timers_.count(&model)) return;
  TimerEntry& entry = timers_[&model];
  entry.timer.reset(new QTimer);
  entry.timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(entry.timer.get(), &QTimer::timeout, entry.timer.get(),
                   [this, &model, &entry] { Tick(model, entry); });
  model.SetWatcher([this](ui::Control& control) { SyncTimer(static_cast<ui::Timer&>(control)); });
  SyncTimer(model);
}

void QtApplication::Tick(ui::Timer& model, TimerEntry& entry) {
  QTimer* timer = entry.timer.get();
  if (entry.realign) {
    // The short first shot after a wake ended on a grid point: the interval from here.
    entry.realign = false;
    timer->start(model.Interval());
  }
  const QTimer* outer = g_ticking;
  g_ticking = timer;
  RunHandler([&model] { model.Tick(); });
  g_ticking = outer;
}

void QtApplication::RemoveTimer(ui::Timer& model) {
  const auto it = timers_.find(&model);
  if (it == timers_.end()) return;
  model.SetWatcher({});
  timers_.erase(it);
}

void QtApplication::Terminate() {
  ui::Application::Terminate();
  // Outside any event loop there is nothing to end, and exit() would make the next loop
  // (a later dialog's) return at once; the owner checks Terminated() before its loop.
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

QTimer* QtApplication::TimerOf(const ui::Timer& model) const {
  const auto it = timers_.find(&model);
  return it == timers_.end() ? nullptr : it->second.timer.get();
}

void QtApplication::SyncTimer(ui::Timer& model) {
  const auto it = timers_.find(&model);
  if (it == timers_.end()) return;
  TimerEntry& entry = it->second;
  QTimer* timer = entry.timer.get();
  const auto now = std::chrono::steady_clock::now();
  const std::chrono::milliseconds interval(model.Interval());
  if (!model.CanTick()) {
    entry.running = false;
    entry.realign = false;
    timer->stop();
    return;
  }
  if (!entry.running || entry.interval != model.Interval()) {
    // A fresh grid from now.
    entry.running = true;
    entry.origin = now;
    entry.interval = model.Interval();
    entry.realign = false;
    if (model.Asleep()) {
      timer->stop();
    } else {
      timer->start(interval);
    }
    return;
  }
  if (model.Asleep()) {
    entry.realign = false;
    timer->stop();
  } else if (!timer->isActive()) {
    // Woken: the first shot ends at the next point of the grid the timer slept on.
    const auto intoStep = (now - entry.origin) % interval;
    const auto first = std::chrono::ceil<std::chrono::milliseconds>(interval - intoStep);
    entry.realign = first != interval;
    timer->start(std::max(first, std::chrono::milliseconds(1)));
  }
}

}  // namespace gui_qt
