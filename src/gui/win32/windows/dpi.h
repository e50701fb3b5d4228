// The window's scale by the DPI of the monitor it is on. The layout is given for 96 DPI
// (100 %); the program declares itself per-monitor DPI aware, so the system no longer
// stretches it and each number is scaled here.
#pragma once

#include <windows.h>

namespace gui_win32 {

inline constexpr UINT kLayoutDpi = 96;

// `value` at `dpi`, rounded half away from zero (so -11 at 144 DPI is -17, 21 is 32).
inline int ScaleForDpi(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}

// The DPI the window is drawn at: its monitor's on Windows 10 1607 and later, the
// system's on older versions.
UINT WindowDpi(HWND window);

// The frame that holds a client area of `width` x `height` at `dpi` (the caption and the
// borders grow with the DPI, too).
SIZE FrameSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

}  // namespace gui_win32
