#include "ui/application.h"

#include "runtime/error_display.h"

#include <thread>

namespace ui {

std::string WithFullStop(const std::string& text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') return text + '.';
  return text;
}

void Application::SetTitle(const std::string& value) {
  if (title_ == value) return;
  title_ = value;
  TitleChanged();
}

void Application::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

void Application::ShowException(const std::exception_ptr& error) {
  if (!error) return;
  const std::string reason = runtime::ExceptionReason(error);
  ShowError(WithFullStop(runtime::ExceptionMessage(error)) +
            (reason.empty() ? "" : kParagraphBreak + reason));
}

void Application::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ShowException(std::current_exception());
  }
}

}  // namespace ui
