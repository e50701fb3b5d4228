#include "windows/window_class.h"

#include <stdexcept>

namespace gui_win32 {

namespace {

// The program's icon: resource 1 of the .exe (resources/windows/program.rc.in), at the
// size the system asks for; the stock application icon where the program has none.
HICON ProgramIcon(int widthMetric, int heightMetric) {
  const auto icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1),
                                                  IMAGE_ICON, GetSystemMetrics(widthMetric),
                                                  GetSystemMetrics(heightMetric), LR_SHARED));
  return icon ? icon : LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
}

}  // namespace

void RegisterClassOnce(const char* name, WNDPROC procedure, HCURSOR cursor, HBRUSH background,
                       const std::string& what) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), name, &windowClass)) return;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = cursor;
  windowClass.hIcon = ProgramIcon(SM_CXICON, SM_CYICON);
  windowClass.hIconSm = ProgramIcon(SM_CXSMICON, SM_CYSMICON);
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = name;
  if (!RegisterClassExA(&windowClass)) {
    throw std::runtime_error("Cannot register the " + what + " class");
  }
}

}  // namespace gui_win32
