#include "gui_win32/win32_application.h"

#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "ui/controls.h"
#include "windows/window_class.h"

#include <algorithm>
#include <stdexcept>

namespace gui_win32 {
namespace {

constexpr char kApplicationClassName[] = "PzApplicationWindow";
// Posted by the runtime's wake-up hook: drain the main-thread queue.
constexpr UINT kWakeUpMessage = WM_APP + 1;

}  // namespace

Win32Application::Win32Application() : wakeUpPosted_(std::make_shared<std::atomic<bool>>(false)) {
  RegisterClassOnce(kApplicationClassName, &Win32Application::WindowProc, nullptr, nullptr,
                    "application window");
  // A zero-sized popup with a caption: once shown it is the task-bar button, and the
  // dialog windows it owns get none of their own.
  handle_ = CreateWindowExA(WS_EX_APPWINDOW, kApplicationClassName, "",
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                            nullptr, nullptr, GetModuleHandleA(nullptr), this);
  if (!handle_) throw std::runtime_error("Cannot create the application window");

  // Other threads post to the window; one post at a time is enough, the drain takes all.
  runtime::SetWakeUpHook([window = handle_, posted = wakeUpPosted_] {
    if (!posted->exchange(true)) PostMessageA(window, kWakeUpMessage, 0, 0);
  });
  // Errors raised in hand-overs from other threads reach the same error display.
  runtime::SetExceptionDisplay(
      [this](const std::string& message) { ShowError(ui::WithFullStop(message)); });
  if (runtime::WaitForMessages(std::chrono::milliseconds(0))) {
    wakeUpPosted_->store(true);
    PostMessageA(handle_, kWakeUpMessage, 0, 0);
  }
}

Win32Application::~Win32Application() {
  runtime::SetWakeUpHook({});
  runtime::SetExceptionDisplay({});
  for (auto& [id, entry] : timers_) {
    KillTimer(handle_, id);
    entry.model->SetWatcher({});
  }
  timers_.clear();
  DestroyWindow(handle_);
}

LRESULT CALLBACK Win32Application::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  auto* self = WindowOwner<Win32Application>(window, message, lParam);
  if (self && self->handle_ == window) return self->Handle(message, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32Application::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kWakeUpMessage:
      DrainQueue();
      return 0;
    case WM_TIMER:
      Tick(wParam);
      return 0;
    case WM_CLOSE:
      // The task-bar button's close closes the main window.
      if (HWND owner = Owner()) PostMessageA(owner, WM_CLOSE, 0, 0);
      return 0;
    default:
      return DefWindowProcA(handle_, message, wParam, lParam);
  }
}

void Win32Application::DrainQueue() {
  // Cleared first: whatever is queued from now on posts a fresh wake-up.
  wakeUpPosted_->store(false);
  runtime::ProcessMessages();
}

void Win32Application::Dispatch(MSG& message) {
  for (HWND dialog : dialogs_) {
    if (IsWindow(dialog) && IsDialogMessageA(dialog, &message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

int Win32Application::Run() {
  MSG message;
  while (!Terminated()) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    Dispatch(message);
  }
  return 0;
}

void Win32Application::ProcessMessages() {
  runtime::ProcessMessages();
  // Only what is queued now: a handler that keeps posting cannot hold this forever.
  const DWORD start = GetTickCount();
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Left for the outermost loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    Dispatch(message);
    if (GetTickCount() - start > 100) break;
  }
}

void Win32Application::WaitForMessage(std::chrono::milliseconds limit) {
  if (limit.count() <= 0 || runtime::WaitForMessages(std::chrono::milliseconds(0))) return;
  const DWORD timeout = static_cast<DWORD>(std::min<std::int64_t>(limit.count(), INFINITE - 1));
  // A queued hand-over posts to our window, so waiting for messages covers it too.
  MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

HWND Win32Application::Owner() const {
  for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
    if (IsWindow(*it)) return *it;
  }
  return nullptr;
}

void Win32Application::ShowMessage(const std::string& text) {
  // The message box runs its own loop; it dispatches our WM_TIMER and wake-up posts.
  MessageBoxA(Owner(), text.c_str(), Title().c_str(), MB_OK | MB_SETFOREGROUND);
}

void Win32Application::ShowError(const std::string& text) {
  MessageBoxA(Owner(), text.c_str(), Title().c_str(), MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

void Win32Application::AddTimer(ui::Timer& timer) {
  for (const auto& [id, entry] : timers_) {
    if (entry.model == &timer) return;
  }
  const UINT_PTR id = nextTimerId_++;
  timers_.emplace(id, TimerEntry{&timer, false});
  timer.SetWatcher([this, id](ui::Control&) { SyncTimer(id); });
  SyncTimer(id);
}

void Win32Application::RemoveTimer(ui::Timer& timer) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.model != &timer) continue;
    KillTimer(handle_, it->first);
    timer.SetWatcher({});
    timers_.erase(it);
    return;
  }
}

bool Win32Application::TimerRunning(const ui::Timer& timer) const {
  for (const auto& [id, entry] : timers_) {
    if (entry.model == &timer) return entry.running;
  }
  return false;
}

void Win32Application::Tick(UINT_PTR id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  TimerEntry& entry = it->second;
  if (entry.realign) {
    // The short first shot after a wake ended on a grid point: the interval from here.
    entry.realign = false;
    SetTimer(handle_, id, static_cast<UINT>(entry.interval), nullptr);
  }
  ui::Timer* model = entry.model;
  RunHandler([model] { model->Tick(); });
}

void Win32Application::SyncTimer(UINT_PTR id) {
  auto& entry = timers_.at(id);
  const ui::Timer& model = *entry.model;
  const ULONGLONG now = GetTickCount64();
  if (!model.CanTick()) {
    KillTimer(handle_, id);
    entry.running = entry.gridRunning = entry.realign = false;
    return;
  }
  UINT first = 0;  // the shot to set now; 0: none (asleep)
  if (!entry.gridRunning || entry.interval != model.Interval()) {
    // A fresh grid from now.
    entry.gridRunning = true;
    entry.interval = model.Interval();
    entry.origin = now;
    entry.realign = false;
    if (!model.Asleep()) first = static_cast<UINT>(entry.interval);
  } else if (model.Asleep()) {
    entry.realign = false;
  } else if (entry.running) {
    return;
  } else {
    // Woken: the first shot ends at the next point of the grid the timer slept on.
    const auto interval = static_cast<ULONGLONG>(entry.interval);
    first = static_cast<UINT>(interval - (now - entry.origin) % interval);
    entry.realign = first != interval;
  }
  if (first == 0) {
    KillTimer(handle_, id);
    entry.running = false;
  } else {
    // SetTimer on a running id restarts it with the new interval.
    entry.running = SetTimer(handle_, id, first, nullptr) != 0;
  }
}

void Win32Application::Terminate() {
  ui::Application::Terminate();
  PostQuitMessage(0);
}

void Win32Application::TitleChanged() {
  SetWindowTextA(handle_, Title().c_str());
}

void Win32Application::AddDialog(HWND dialog) {
  if (std::find(dialogs_.begin(), dialogs_.end(), dialog) == dialogs_.end()) {
    dialogs_.push_back(dialog);
  }
}

void Win32Application::RemoveDialog(HWND dialog) {
  std::erase(dialogs_, dialog);
}

}  // namespace gui_win32
