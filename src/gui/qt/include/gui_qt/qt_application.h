// The application services on Qt 6: the runtime's main-thread queue is drained from Qt's
// event loop (also from the nested loop of a modal dialog), timers are QTimers and the
// dialogs are message boxes. A QApplication must exist for the whole life of this object.
#pragma once

#include "ui/application.h"

#include <chrono>
#include <map>
#include <memory>

class QTimer;

namespace gui_qt {

class QueueWakeUp;

class QtApplication : public ui::Application {
 public:
  // Throws std::logic_error when no QApplication exists.
  QtApplication();
  ~QtApplication() override;
  QtApplication(const QtApplication&) = delete;
  QtApplication& operator=(const QtApplication&) = delete;

  void ProcessMessages() override;
  void WaitForMessage(std::chrono::milliseconds limit) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void AddTimer(ui::Timer& timer) override;
  void RemoveTimer(ui::Timer& timer) override;
  // Also ends Qt's event loop (all of its levels) once the current handler returns.
  void Terminate() override;

  // The QTimer that runs `timer`, or null when it was not added.
  QTimer* TimerOf(const ui::Timer& timer) const;

 private:
  struct TimerDeleter {
    void operator()(QTimer* timer) const;
  };
  struct TimerEntry {
    std::unique_ptr<QTimer, TimerDeleter> timer;
    std::chrono::steady_clock::time_point origin;  // grid point 0 of the running grid
    int interval = 0;                              // of the running grid
    bool running = false;                          // enabled with an interval when last looked at
    bool realign = false;  // woken: the first shot is shorter, then back to the interval
  };
  void SyncTimer(ui::Timer& timer);
  void Tick(ui::Timer& model, TimerEntry& entry);

  std::shared_ptr<QueueWakeUp> wakeUp_;
  std::map<const ui::Timer*, TimerEntry> timers_;
};

}  // namespace gui_qt
