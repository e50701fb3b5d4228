#include "windows/window_text.h"

namespace gui_win32 {

std::string GetText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

bool SetText(HWND window, const std::string& text) {
  if (GetText(window) == text) return false;
  SetWindowTextA(window, text.c_str());
  return true;
}

}  // namespace gui_win32
