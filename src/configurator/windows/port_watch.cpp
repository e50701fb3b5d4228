#include "configurator/port_watch.h"

#include <windows.h>

#include <dbt.h>

#include <utility>

namespace configurator {
namespace {

constexpr char kClassName[] = "PzPortWatch";

}  // namespace

// A hidden top-level window: the system broadcasts port arrivals and removals to every
// top-level window (a message-only window would not hear them).
struct PortWatch::Watcher {
  explicit Watcher(std::function<void()> changed) : changed(std::move(changed)) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Watcher::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);  // fails harmlessly when it is registered already
    // Without the window the list is simply not refreshed: the start-up probe stands.
    window = CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, GetModuleHandleA(nullptr), this);
  }
  ~Watcher() {
    if (window) DestroyWindow(window);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  static LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Watcher*>(GetWindowLongPtrA(handle, GWLP_USERDATA));
    if (self && message == WM_DEVICECHANGE) {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
      const bool portEvent = wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE;
      if (portEvent && header && header->dbch_devicetype == DBT_DEVTYP_PORT) self->changed();
      return TRUE;
    }
    return DefWindowProcA(handle, message, wParam, lParam);
  }

  std::function<void()> changed;
  HWND window = nullptr;
};

PortWatch::PortWatch(std::function<void()> changed)
    : watcher_(std::make_unique<Watcher>(std::move(changed))) {}

PortWatch::~PortWatch() = default;

}  // namespace configurator
