#include "gui_qt/qt_application.h"

#include "common/message_box.h"
#include "common/queue_wake_up.h"
#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "ui/controls.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

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
  std::unique_ptr<QTimer, TimerDeleter> timer(new QTimer);
  timer->setTimerType(Qt::PreciseTimer);
  QTimer* raw = timer.get();
  QObject::connect(raw, &QTimer::timeout, raw, [this, raw, &model] {
    const QTimer* outer = g_ticking;
    g_ticking = raw;
    RunHandler([&model] { model.Tick(); });
    g_ticking = outer;
  });
  timers_.emplace(&model, std::move(timer));
  model.SetWatcher([this](ui::Control& control) { SyncTimer(static_cast<ui::Timer&>(control)); });
  SyncTimer(model);
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
  return it == timers_.end() ? nullptr : it->second.get();
}

void QtApplication::SyncTimer(ui::Timer& model) {
  QTimer* timer = TimerOf(model);
  if (!timer) return;
  if (model.CanTick()) {
    if (!timer->isActive() || timer->interval() != model.Interval()) timer->start(model.Interval());
  } else {
    timer->stop();
  }
}

}  // namespace gui_qt
