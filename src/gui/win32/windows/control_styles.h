// The window class and styles of the child window that shows each kind of control.
#pragma once

#include "ui/controls.h"

#include <windows.h>

namespace gui_win32 {

struct ControlStyle {
  const char* className;
  DWORD style;
  DWORD exStyle;
};

// Throws std::logic_error for kinds that have no child window (the window, timers).
ControlStyle StyleOf(const ui::Control& control);

// Height of a combo box's drop-down list, added to the height of its selection field.
constexpr int kDropDownHeight = 200;

}  // namespace gui_win32
