#include "gui_win32/win32_window.h"

#include "common/control_order.h"
#include "gui_win32/win32_application.h"
#include "windows/control_styles.h"
#include "windows/window_class.h"
#include "windows/window_text.h"

#include <algorithm>
#include <stdexcept>

namespace gui_win32 {
namespace {

constexpr char kDialogClassName[] = "PzDialogWindow";
// A fixed dialog frame: caption and system menu, no sizing border, no minimise or
// maximise box.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kFirstControlId = 100;

bool HasStyle(HWND window, DWORD style) {
  return (static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)) & style) == style;
}

}  // namespace

Win32Window::Win32Window(ui::Window& model, Win32Application& app) : model_(model), app_(app) {
  RegisterClassOnce(kDialogClassName, &Win32Window::WindowProc,
                    LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)),
                    reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), "dialog window");
  const ui::Bounds& client = model_.GetBounds();
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  handle_ =
      CreateWindowExA(kExStyle, kDialogClassName, model_.Caption().c_str(), kStyle, client.left,
                      client.top, frame.right - frame.left, frame.bottom - frame.top, app_.Handle(),
                      nullptr, GetModuleHandleA(nullptr), this);
  if (!handle_) throw std::runtime_error("Cannot create the window '" + model_.Name() + "'");
  font_ = CreateFontA(model_.FontHeight(), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, model_.FontName().c_str());
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  try {
    CreateControls();
  } catch (...) {
    for (auto& [id, binding] : bindings_) binding.model->SetWatcher({});
    // A window that could not be built is no window the user closed: the program goes on.
    closing_ = true;
    DestroyWindow(handle_);
    DeleteObject(font_);
    throw;
  }
  model_.SetWatcher([this](ui::Control&) { SetText(handle_, model_.Caption()); });
  app_.AddDialog(handle_);
}

Win32Window::~Win32Window() {
  model_.SetWatcher({});
  for (auto& [id, binding] : bindings_) binding.model->SetWatcher({});
  // WM_DESTROY takes it off the application's dialogs.
  if (IsWindow(handle_)) {
    closing_ = true;
    DestroyWindow(handle_);
  }
  DeleteObject(font_);
}

void Win32Window::CreateControls() {
  int id = kFirstControlId;
  for (ui::Control* control : ZOrder(model_)) {
    const ControlStyle style = StyleOf(*control);
    const ui::Bounds bounds = BoundsInRoot(*control);
    const int height = control->Kind() == ui::ControlKind::ComboBox
                           ? bounds.height + kDropDownHeight
                           : bounds.height;
    HWND child = CreateWindowExA(style.exStyle, style.className, "", style.style, bounds.left,
                                 bounds.top, bounds.width, height, handle_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleA(nullptr), nullptr);
    if (!child) throw std::runtime_error("Cannot create the control '" + control->Name() + "'");
    // Each new control goes under those made before it: the z-order is ZOrder's.
    SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    Binding& binding = bindings_[id] = Binding{control, child, {}};
    Mirror(binding);
    control->SetWatcher([this, id](ui::Control&) { Mirror(bindings_.at(id)); });
    ++id;
  }
}

HWND Win32Window::Find(const std::string& name) const {
  if (name == model_.Name()) return handle_;
  for (const auto& [id, binding] : bindings_) {
    if (binding.model->Name() == name) return binding.handle;
  }
  return nullptr;
}

void Win32Window::Show() {
  // The application window carries the task-bar button; it has no size of its own.
  ShowWindow(app_.Handle(), SW_SHOWNOACTIVATE);
  ShowWindow(handle_, SW_SHOW);
  UpdateWindow(handle_);
  if (HWND first = GetNextDlgTabItem(handle_, nullptr, FALSE)) SetFocus(first);
}

void Win32Window::Mirror(Binding& binding) {
  mirroring_ = true;
  const ui::Control& model = *binding.model;
  if (model.Kind() == ui::ControlKind::ComboBox) {
    MirrorComboBox(binding, static_cast<const ui::ComboBox&>(model));
  } else if (SetText(binding.handle, model.Caption())) {
    if (model.Kind() == ui::ControlKind::SpeedButton) InvalidateRect(binding.handle, nullptr, TRUE);
    if (model.Kind() == ui::ControlKind::Label) FitLabel(binding);
  }
  const bool visible = model.Visible() && !Covered(binding);
  const bool shown = HasStyle(binding.handle, WS_VISIBLE);
  if (shown != visible) ShowWindow(binding.handle, visible ? SW_SHOWNA : SW_HIDE);
  MirrorEnabled(binding);
  mirroring_ = false;
  // A container that appears or goes hides or uncovers the labels under it.
  const bool container =
      model.Kind() == ui::ControlKind::GroupBox || model.Kind() == ui::ControlKind::Panel;
  if (container && shown != visible) {
    for (auto& [id, other] : bindings_) {
      if (other.model->Kind() == ui::ControlKind::Label && other.model->Parent() == model.Parent())
        Mirror(other);
    }
  }
}

void Win32Window::MirrorEnabled(Binding& binding) {
  const bool enable = binding.model->Enabled();
  if (!IsWindowEnabled(binding.handle) == !enable) return;
  if (!enable) {
    const bool hadFocus = FocusedControl() == binding.handle;
    // A disabled window loses the focus to nobody: the keyboard would reach no control.
    EnableWindow(binding.handle, FALSE);
    if (!hadFocus) return;
    const HWND next = GetNextDlgTabItem(handle_, binding.handle, FALSE);
    FocusControl(next != binding.handle ? next : nullptr);
    binding.focusTaken = true;
    binding.focusTakenBy = FocusedControl();
    return;
  }
  EnableWindow(binding.handle, TRUE);
  if (!binding.focusTaken) return;
  binding.focusTaken = false;
  if (FocusedControl() == binding.focusTakenBy) FocusControl(binding.handle);
}

HWND Win32Window::FocusedControl() const {
  if (GetActiveWindow() != handle_) return savedFocus_;
  return ControlOf(GetFocus());
}

HWND Win32Window::ControlOf(HWND window) const {
  // The edit field of an editable list is the list's own.
  while (window && GetParent(window) != handle_) window = GetParent(window);
  return window;
}

void Win32Window::FocusControl(HWND control) {
  if (GetActiveWindow() == handle_) {
    SetFocus(control ? control : handle_);
  } else {
    savedFocus_ = control;
  }
}

void Win32Window::FitLabel(Binding& binding) {
  const ui::Bounds& bounds = binding.model->GetBounds();
  // A label without a size of its own is as large as its caption.
  if (bounds.width != 0 || bounds.height != 0) return;
  const std::string caption = binding.model->Caption();
  SIZE extent{};
  HDC context = GetDC(binding.handle);
  const HGDIOBJ oldFont = SelectObject(context, font_);
  GetTextExtentPoint32A(context, caption.c_str(), static_cast<int>(caption.size()), &extent);
  TEXTMETRICA metrics{};
  GetTextMetricsA(context, &metrics);
  SelectObject(context, oldFont);
  ReleaseDC(binding.handle, context);
  SetWindowPos(binding.handle, nullptr, 0, 0, extent.cx, metrics.tmHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Win32Window::Covered(const Binding& binding) const {
  // Labels are drawn under every windowed sibling, so one that lies wholly inside a
  // visible group box or panel cannot be seen.
  if (binding.model->Kind() != ui::ControlKind::Label) return false;
  RECT label{};
  GetWindowRect(binding.handle, &label);
  for (const auto& [id, other] : bindings_) {
    const ui::Control& model = *other.model;
    if (model.Parent() != binding.model->Parent() || !model.Visible()) continue;
    if (model.Kind() != ui::ControlKind::GroupBox && model.Kind() != ui::ControlKind::Panel)
      continue;
    RECT area{};
    GetWindowRect(other.handle, &area);
    if (label.left >= area.left && label.top >= area.top && label.right <= area.right &&
        label.bottom <= area.bottom)
      return true;
  }
  return false;
}

void Win32Window::MirrorComboBox(Binding& binding, const ui::ComboBox& combo) {
  if (binding.handle == editing_) return;
  const auto& items = combo.Items();
  const bool appended = items.size() >= binding.items.size() &&
                        std::equal(binding.items.begin(), binding.items.end(), items.begin());
  if (!appended) {
    SendMessageA(binding.handle, CB_RESETCONTENT, 0, 0);
    binding.items.clear();
  }
  for (std::size_t i = binding.items.size(); i < items.size(); ++i) {
    SendMessageA(binding.handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i].c_str()));
  }
  binding.items = items;
  if (SendMessageA(binding.handle, CB_GETCURSEL, 0, 0) != combo.ItemIndex()) {
    SendMessageA(binding.handle, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
  }
  if (combo.Editable()) SetText(binding.handle, combo.Text());
}

void Win32Window::Command(Binding& binding, WORD code) {
  ui::Control& model = *binding.model;
  switch (model.Kind()) {
    case ui::ControlKind::ComboBox: {
      auto& combo = static_cast<ui::ComboBox&>(model);
      if (code == CBN_SELCHANGE) {
        combo.SetItemIndex(static_cast<int>(SendMessageA(binding.handle, CB_GETCURSEL, 0, 0)));
      } else if (code == CBN_SELENDOK) {
        // An item picked from the open list: also the one the list still counts as
        // selected after typing, which changes no selection.
        const int index = static_cast<int>(SendMessageA(binding.handle, CB_GETCURSEL, 0, 0));
        if (index >= 0) combo.SetItemIndex(index);
      } else if (code == CBN_EDITCHANGE) {
        // The field shows what was typed, caret and all: the model's echo must not be
        // mirrored back (selecting nothing would empty the field, setting the text would
        // put the caret at the start).
        editing_ = binding.handle;
        combo.SetText(GetText(binding.handle));
        editing_ = nullptr;
      }
      return;
    }
    case ui::ControlKind::Button:
    case ui::ControlKind::SpeedButton:
      if (code == BN_CLICKED || (model.Kind() == ui::ControlKind::SpeedButton &&
                                 (code == STN_CLICKED || code == STN_DBLCLK))) {
        auto& button = static_cast<ui::Button&>(model);
        app_.RunHandler([&button] { button.Click(); });
      }
      return;
    default:
      return;
  }
}

void Win32Window::DrawSpeedButton(const DRAWITEMSTRUCT& item) {
  RECT face = item.rcItem;
  UINT state = DFCS_BUTTONPUSH;
  if (item.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
  DrawFrameControl(item.hDC, &face, DFC_BUTTON, state);
  const std::string caption = GetText(item.hwndItem);
  const HGDIOBJ oldFont = SelectObject(item.hDC, font_);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC,
               GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  DrawTextA(item.hDC, caption.c_str(), -1, &face,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, oldFont);
}

void Win32Window::Close() {
  bool close = true;
  if (model_.OnCloseQuery) app_.RunHandler([&] { close = model_.OnCloseQuery(); });
  if (close) DestroyWindow(handle_);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = WindowOwner<Win32Window>(window, message, lParam);
  if (self && self->handle_ == window) return self->Handle(message, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const auto it = bindings_.find(LOWORD(wParam));
      if (it != bindings_.end() && lParam && !mirroring_) Command(it->second, HIWORD(wParam));
      return 0;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_STATIC) {
        DrawSpeedButton(item);
        return TRUE;
      }
      break;
    }
    case WM_ACTIVATE:
      // As a dialog does: the focus is kept over a deactivation (a message box, another
      // program) and given back to the same control, not to the frame.
      if (LOWORD(wParam) == WA_INACTIVE) {
        savedFocus_ = ControlOf(GetFocus());
      } else {
        HWND focus = savedFocus_;
        if (!focus || !IsWindow(focus) || !IsWindowEnabled(focus) || !IsWindowVisible(focus)) {
          focus = GetNextDlgTabItem(handle_, nullptr, FALSE);
        }
        if (focus) {
          SetFocus(focus);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      app_.RemoveDialog(handle_);
      // Closed by the user: the program ends.
      if (!closing_) app_.Terminate();
      return 0;
    default:
      break;
  }
  return DefWindowProcA(handle_, message, wParam, lParam);
}

}  // namespace gui_win32
