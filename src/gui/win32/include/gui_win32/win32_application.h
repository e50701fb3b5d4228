// The application services on Win32. One hidden application window carries the
// application title (it owns the task-bar button), receives the runtime's wake-up posts
// (so the main-thread queue is drained by any message loop of the thread, also the modal
// loop of a message box) and the WM_TIMER of every timer. Main thread only.
#pragma once

#include "ui/application.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace gui_win32 {

class Win32Application : public ui::Application {
 public:
  Win32Application();
  ~Win32Application() override;
  Win32Application(const Win32Application&) = delete;
  Win32Application& operator=(const Win32Application&) = delete;

  void ProcessMessages() override;
  void WaitForMessage(std::chrono::milliseconds limit) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void AddTimer(ui::Timer& timer) override;
  void RemoveTimer(ui::Timer& timer) override;
  // Also posts WM_QUIT, which ends Run (and any loop that processes messages).
  void Terminate() override;

  // The message loop: runs until Terminate or WM_QUIT. Returns the exit code.
  int Run();

  // The hidden window that carries the title and the task-bar button.
  HWND Handle() const { return handle_; }
  // The window message boxes are modal to: the last registered dialog window, if any.
  HWND Owner() const;

  // Dialog windows get IsDialogMessage (tab keys) from every loop of this application.
  void AddDialog(HWND dialog);
  void RemoveDialog(HWND dialog);

  // Whether the timer is running as a window timer now (added, enabled, interval > 0,
  // awake).
  bool TimerRunning(const ui::Timer& timer) const;

 protected:
  void TitleChanged() override;

 private:
  struct TimerEntry {
    ui::Timer* model;
    bool running = false;      // a window timer is set for it now
    bool gridRunning = false;  // enabled with an interval when last looked at
    int interval = 0;          // of the running grid
    ULONGLONG origin = 0;      // grid point 0 of the running grid, in GetTickCount64 ms
    bool realign = false;      // woken: the first shot is shorter, then the interval
  };
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Dispatch(MSG& message);
  void SyncTimer(UINT_PTR id);
  void Tick(UINT_PTR id);
  void DrainQueue();

  HWND handle_ = nullptr;
  std::vector<HWND> dialogs_;
  std::map<UINT_PTR, TimerEntry> timers_;
  UINT_PTR nextTimerId_ = 1;
  // Shared with the wake-up hook, which other threads call.
  std::shared_ptr<std::atomic<bool>> wakeUpPosted_;
};

}  // namespace gui_win32
