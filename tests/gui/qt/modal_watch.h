// Helpers for tests that open modal dialogs: the inspection runs inside the dialog's own
// event loop, polled by a timer, with generous limits instead of fixed sleeps.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <functional>

namespace gui_qt_test {

constexpr std::chrono::seconds kLimit{30};

// Once a modal message box is open, calls `inspect` with it from inside the box's loop;
// then, as soon as `closeWhen` holds (or the limit passes), closes the box with its
// escape button if `inspect` left it open.
class ModalWatch {
 public:
  explicit ModalWatch(
      std::function<void(QMessageBox&)> inspect,
      std::function<bool()> closeWhen = [] { return true; })
      : inspect_(std::move(inspect)),
        closeWhen_(std::move(closeWhen)),
        deadline_(std::chrono::steady_clock::now() + kLimit) {
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] { Poll(); });
    poll_.start(1);
  }
  bool Seen() const { return seen_; }

 private:
  void Poll() {
    const bool late = std::chrono::steady_clock::now() > deadline_;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      if (late) poll_.stop();
      return;
    }
    if (!seen_) {
      seen_ = true;
      inspect_(*box);
    }
    if (!closeWhen_() && !late) return;
    poll_.stop();
    if (box->isVisible() && box->escapeButton()) box->escapeButton()->click();
  }

  std::function<void(QMessageBox&)> inspect_;
  std::function<bool()> closeWhen_;
  std::chrono::steady_clock::time_point deadline_;
  QTimer poll_;
  bool seen_ = false;
};

// Runs the event loop (as a modal dialog's loop does) until `done` holds or the limit
// passes; returns whether `done` held.
inline bool SpinUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  QTimer wake;  // makes every wait end within a few ms so `done` is checked again
  wake.start(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

}  // namespace gui_qt_test
