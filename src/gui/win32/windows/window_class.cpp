#include "windows/window_class.h"

#include <stdexcept>

namespace gui_win32 {

void RegisterClassOnce(const char* name, WNDPROC procedure, HCURSOR cursor, HBRUSH background,
                       const std::string& what) {
  WNDCLASSA windowClass{};
  if (GetClassInfoA(GetModuleHandleA(nullptr), name, &windowClass)) return;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = cursor;
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = name;
  if (!RegisterClassA(&windowClass)) {
    throw std::runtime_error("Cannot register the " + what + " class");
  }
}

}  // namespace gui_win32
