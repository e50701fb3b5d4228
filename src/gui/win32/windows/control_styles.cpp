#include "windows/control_styles.h"

#include <stdexcept>

namespace gui_win32 {
namespace {

// Every child clips the siblings above it in the z-order, so overlapping controls paint
// as they are stacked.
constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;

}  // namespace

ControlStyle StyleOf(const ui::Control& control) {
  switch (control.Kind()) {
    case ui::ControlKind::Label:
      return {"STATIC", kChild | SS_LEFT | SS_NOPREFIX, 0};
    case ui::ControlKind::GroupBox:
      // Transparent: it paints only its frame and clips none of the controls under it.
      return {"BUTTON", kChild | BS_GROUPBOX, WS_EX_TRANSPARENT};
    case ui::ControlKind::Panel:
      return {"STATIC", kChild | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, WS_EX_DLGMODALFRAME};
    case ui::ControlKind::Button:
      return {"BUTTON", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ui::ControlKind::SpeedButton:
      // A static control never takes the focus; it draws itself as a push button and
      // reports clicks with SS_NOTIFY.
      return {"STATIC", kChild | SS_OWNERDRAW | SS_NOTIFY, 0};
    case ui::ControlKind::ComboBox: {
      const auto& combo = static_cast<const ui::ComboBox&>(control);
      const DWORD kind = combo.Editable() ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST;
      return {"COMBOBOX", kChild | WS_TABSTOP | WS_VSCROLL | kind, 0};
    }
    case ui::ControlKind::Window:
    case ui::ControlKind::Timer:
      break;
  }
  throw std::logic_error("Control '" + control.Name() + "' has no child window");
}

}  // namespace gui_win32
