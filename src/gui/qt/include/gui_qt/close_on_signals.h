// Turns SIGINT, SIGTERM and SIGHUP into a close request of a window, so that a program
// stopped from outside ends the way closing its window does (the port is closed, its lock
// file removed) instead of dying on the spot.
#pragma once

#include <QWidget>

#include <memory>

class QSocketNotifier;

namespace gui_qt {

class CloseOnSignals {
 public:
  // One at a time per process; the signals' former handlers come back on destruction.
  explicit CloseOnSignals(QWidget& window);
  ~CloseOnSignals();
  CloseOnSignals(const CloseOnSignals&) = delete;
  CloseOnSignals& operator=(const CloseOnSignals&) = delete;

 private:
  struct Saved;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<Saved> saved_;
};

}  // namespace gui_qt
