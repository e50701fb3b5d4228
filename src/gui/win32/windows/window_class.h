// What the application window and the dialog windows share: their window class, and the
// object each window's procedure hands its messages to.
#pragma once

#include <windows.h>

#include <string>

namespace gui_win32 {

// Registers the class `name` of this module unless it is there already. Throws
// std::runtime_error "Cannot register the <what> class" when it cannot be registered.
void RegisterClassOnce(const char* name, WNDPROC procedure, HCURSOR cursor, HBRUSH background,
                       const std::string& what);

// The object a window was created for (the creation parameter of CreateWindowEx, kept from
// WM_NCCREATE on); null before WM_NCCREATE.
template <class T>
T* WindowOwner(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace gui_win32
