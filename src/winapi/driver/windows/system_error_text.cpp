#include "winapi/system_error_text.h"

#include <windows.h>

namespace winapi {

std::string SystemErrorText(DWORD error) {
  const std::string number = "system error " + std::to_string(error);
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string message(text, length);
  // One line: the system's texts end with a full stop and a line break, some have more.
  for (char& c : message) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!message.empty() && (message.back() == ' ' || message.back() == '.')) message.pop_back();
  return message.empty() ? number : message + " (" + number + ")";
}

}  // namespace winapi
