// A Win32 window built from a ui::Window model tree with the standard controls: STATIC
// labels, COMBOBOX lists, BUTTON group boxes and push buttons, a speed button that never
// takes the focus and panels. Every control is a direct child of the dialog window, at
// its model's bounds mapped into the window's client area; the z-order gives the tab
// order that IsDialogMessage follows. The widgets mirror their models, and the user's
// changes are fed back through the models' setters.
#pragma once

#include "ui/controls.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace gui_win32 {

class Win32Application;

class Win32Window {
 public:
  // Creates the window and its controls, hidden. `model` and every control below it
  // must outlive this object. Throws std::runtime_error when a window cannot be created.
  Win32Window(ui::Window& model, Win32Application& app);
  ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND Handle() const { return handle_; }
  // The control window of the model named `name`; null when there is none.
  HWND Find(const std::string& name) const;

  void Show();

  // The DPI the window's layout is scaled to (96: as the model gives it).
  UINT Dpi() const { return dpi_; }
  // Scales the layout to `dpi`, as a move to a monitor of that DPI does; the frame keeps
  // its place, or takes `suggested` (the system's suggestion with WM_DPICHANGED).
  void ApplyDpi(UINT dpi, const RECT* suggested = nullptr);

 private:
  struct Binding {
    ui::Control* model;
    HWND handle;
    std::vector<std::string> items;  // what the COMBOBOX holds now
    bool focusTaken = false;         // disabled while it had the focus
    HWND focusTakenBy = nullptr;     // where the focus went then
  };
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HFONT CreateScaledFont() const;
  ui::Bounds Scaled(const ui::Bounds& bounds) const;
  // Puts the control at its model's bounds scaled to the window's DPI.
  void PlaceControl(Binding& binding);
  // Sizes the frame for the scaled client area, at `suggested`'s corner or the model's
  // scaled position.
  void PlaceFrame(const RECT* suggested);
  void Mirror(Binding& binding);
  // Disabling the control that has the focus moves the focus on to the next control;
  // enabled again, it takes the focus back unless the focus has moved on since.
  void MirrorEnabled(Binding& binding);
  // The control that has the focus, or would get it back when the window is activated.
  HWND FocusedControl() const;
  // Gives `control` the focus now, or when the window is next activated.
  void FocusControl(HWND control);
  // The control `window` belongs to (itself or an ancestor); null for none.
  HWND ControlOf(HWND window) const;
  void MirrorComboBox(Binding& binding, const ui::ComboBox& combo);
  void FitLabel(Binding& binding);
  bool Covered(const Binding& binding) const;
  void Command(Binding& binding, WORD code);
  void DrawSpeedButton(const DRAWITEMSTRUCT& item);
  void Close();

  ui::Window& model_;
  Win32Application& app_;
  HWND handle_ = nullptr;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  std::map<int, Binding> bindings_;  // by control id
  bool mirroring_ = false;
  bool closing_ = false;       // destroyed by this object, not closed by the user
  HWND savedFocus_ = nullptr;  // the focused control when the window was last deactivated
  HWND editing_ = nullptr;     // the editable list whose typed text the model is taking
};

}  // namespace gui_win32
