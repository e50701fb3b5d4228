// A small model tree and helpers shared by the Win32 back end tests.
#pragma once

#include "gui_win32/win32_application.h"
#include "gui_win32/win32_window.h"
#include "ui/controls.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gui_win32::testing {

// Records the error display instead of opening a message box.
class RecordingApplication : public Win32Application {
 public:
  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> errors;
};

// Controls of every kind; tab order of the focusable ones: edit, innerFirst, innerList,
// push, fixedList.
struct TestForm {
  ui::Window window{"TestForm", "Test caption", {192, 109, 241, 436}, "MS Sans Serif", -11};
  ui::Label first{"first", &window, {8, 8, 40, 13}, "First:"};
  ui::ComboBox edit{"edit", &window, {8, 24, 145, 21}, ui::ComboStyle::DropDown, 0};
  ui::ComboBox fixedList{"fixedList", &window, {160, 24, 73, 21}, ui::ComboStyle::DropDownList, 3};
  ui::Button push{"push", &window, {8, 56, 105, 25}, "Push", 2};
  ui::GroupBox group{"group", &window, {8, 88, 225, 81}, " Group ", 1};
  ui::Label inner{"inner", &group, {16, 27, 60, 13}, "Inner:"};
  ui::ComboBox innerList{"innerList", &group, {120, 24, 81, 21}, ui::ComboStyle::DropDownList, 1};
  ui::ComboBox innerFirst{"innerFirst", &group, {120, 48, 81, 21}, ui::ComboStyle::DropDownList, 0};
  ui::Panel overlay{"overlay", &window, {24, 112, 185, 41}, "Please wait...", 5};
  ui::Label covered{"covered", &window, {24, 155, 60, 13}, "Covered"};
  ui::Button speed{"speed", &window, {200, 400, 25, 25}, "?", -1, true};
  ui::Label autosized{"autosized", &window, {8, 420, 0, 0}, "Sized"};
};

// Serves the application's messages until `done` holds or `limit` passes.
inline bool PumpUntil(Win32Application& app, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    app.ProcessMessages();
    app.WaitForMessage(std::chrono::milliseconds(50));
  }
  return true;
}

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

inline std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline DWORD StyleOf(HWND window) {
  return static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
}

// A WM_QUIT left by a closed window would end the next test's loops at once.
inline void DiscardQuit() {
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// The test form's window on a recording application; a quit the test caused stays in it.
class TestFormWindow : public ::testing::Test {
 protected:
  void TearDown() override {
    window.reset();
    DiscardQuit();
  }
  HWND Find(const std::string& name) const { return window->Find(name); }

  RecordingApplication app;
  TestForm form;
  std::unique_ptr<Win32Window> window = std::make_unique<Win32Window>(form.window, app);
};

}  // namespace gui_win32::testing
