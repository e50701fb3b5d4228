// A window's text as std::string.
#pragma once

#include <windows.h>

#include <string>

namespace gui_win32 {

std::string GetText(HWND window);
// Sets the text unless the window already shows it; returns whether it changed.
bool SetText(HWND window, const std::string& text);

}  // namespace gui_win32
