// Models and controls kept in step both ways; clicks and close requests.
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include <memory>
#include <stdexcept>
#include <vector>

namespace gui_win32::testing {
namespace {

class WindowBinding : public TestFormWindow {
 protected:
  // The control a focused window belongs to: an editable list's edit field is the list's.
  HWND FocusedControlOf(HWND focus) const {
    while (focus && GetParent(focus) != window->Handle()) focus = GetParent(focus);
    return focus;
  }
  int Count(const char* name) const {
    return static_cast<int>(SendMessageA(Find(name), CB_GETCOUNT, 0, 0));
  }
  int Selected(const char* name) const {
    return static_cast<int>(SendMessageA(Find(name), CB_GETCURSEL, 0, 0));
  }
  std::string Item(const char* name, int index) const {
    char text[256] = {};
    SendMessageA(Find(name), CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text));
    return text;
  }
};

TEST_F(WindowBinding, CaptionVisibilityAndEnablingFollowTheModel) {
  form.first.SetCaption("Changed:");
  EXPECT_EQ(TextOf(Find("first")), "Changed:");
  form.window.SetCaption("New caption");
  EXPECT_EQ(TextOf(window->Handle()), "New caption");

  EXPECT_TRUE(StyleOf(Find("overlay")) & WS_VISIBLE);
  form.overlay.SetVisible(false);
  EXPECT_FALSE(StyleOf(Find("overlay")) & WS_VISIBLE);
  form.overlay.SetVisible(true);
  EXPECT_TRUE(StyleOf(Find("overlay")) & WS_VISIBLE);

  form.push.SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(Find("push")));
  form.push.SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(Find("push")));
}

TEST_F(WindowBinding, ListItemsSelectionAndTextFollowTheModel) {
  for (const char* item : {"1", "2", "3"}) form.fixedList.Add(item);
  EXPECT_EQ(Count("fixedList"), 3);
  EXPECT_EQ(Item("fixedList", 2), "3");
  EXPECT_EQ(Selected("fixedList"), CB_ERR);
  form.fixedList.SetItemIndex(1);
  EXPECT_EQ(Selected("fixedList"), 1);
  EXPECT_EQ(TextOf(Find("fixedList")), "2");

  // A new list, not an appended one, replaces the items.
  form.fixedList.Clear();
  EXPECT_EQ(Count("fixedList"), 0);
  EXPECT_EQ(Selected("fixedList"), CB_ERR);
  form.fixedList.Add("x");
  EXPECT_EQ(Count("fixedList"), 1);
  EXPECT_EQ(Item("fixedList", 0), "x");

  form.edit.Add("COM3");
  form.edit.SetItemIndex(0);
  EXPECT_EQ(TextOf(Find("edit")), "COM3");
  form.edit.SetText("COM9");
  EXPECT_EQ(TextOf(Find("edit")), "COM9");
  EXPECT_EQ(Selected("edit"), CB_ERR);
}

TEST_F(WindowBinding, UserSelectionInAFixedListReachesTheModel) {
  for (const char* item : {"19200", "38400", "57600"}) form.fixedList.Add(item);
  form.fixedList.SetItemIndex(0);
  // The arrow key selects the next item the way a user does; the list reports
  // CBN_SELCHANGE to the window.
  SendMessageA(Find("fixedList"), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(form.fixedList.ItemIndex(), 1);
  EXPECT_EQ(form.fixedList.Text(), "38400");
  SendMessageA(Find("fixedList"), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(form.fixedList.Text(), "57600");
}

TEST_F(WindowBinding, TypingInAnEditableListReachesTheModel) {
  form.edit.Add("COM1");
  form.edit.SetItemIndex(0);
  const HWND field = FindWindowExA(Find("edit"), nullptr, "Edit", nullptr);
  ASSERT_NE(field, nullptr);
  SendMessageA(field, WM_KEYDOWN, VK_END, 0);
  SendMessageA(field, WM_CHAR, '5', 0);
  EXPECT_EQ(form.edit.Text(), "COM15");
  // Typed text that is no item clears the selection.
  EXPECT_EQ(form.edit.ItemIndex(), -1);
}

// Key presses as the keyboard makes them, through the system's input queue to the
// window with the focus. Virtual-key codes: letters and digits are their upper-case
// characters.
void PressKeys(std::initializer_list<WORD> keys, bool shift = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, false);
  for (WORD key : keys) {
    add(key, false);
    add(key, true);
  }
  if (shift) add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Without the mend, the first edit change after a pick was mirrored back as "select
// nothing" (which empties the field) and the text set anew with the caret at 0: "COM9"
// typed over a picked "COM3" became "OM9C", and End, Backspace, 9 gave "9COM".
TEST_F(WindowBinding, KeysTypedInAnEditableListEditItsTextAsInAnyComboBox) {
  form.edit.Add("COM1");
  form.edit.Add("COM3");
  window->Show();
  SetForegroundWindow(window->Handle());
  const HWND list = Find("edit");
  const HWND field = FindWindowExA(list, nullptr, "Edit", nullptr);
  ASSERT_NE(field, nullptr);
  SetFocus(list);
  ASSERT_TRUE(PumpUntil(app, [&] { return GetFocus() == field; }));
  // The arrow key picks the next item, as the user picks COM3 after COM1.
  const auto pickCom3 = [&] {
    form.edit.SetItemIndex(0);
    PressKeys({VK_DOWN});
    return PumpUntil(app, [&] { return form.edit.ItemIndex() == 1; });
  };
  const auto typed = [&](const std::string& text) {
    PumpUntil(
        app, [&] { return form.edit.Text() == text; }, std::chrono::seconds(5));
    EXPECT_EQ(TextOf(field), text);
    EXPECT_EQ(form.edit.Text(), text);
    EXPECT_EQ(form.edit.ItemIndex(), -1);
  };

  ASSERT_TRUE(pickCom3());
  EXPECT_EQ(TextOf(field), "COM3");
  SendMessageA(list, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));  // all selected
  PressKeys({'C', 'O', 'M'}, true);
  PressKeys({'9'});
  typed("COM9");

  ASSERT_TRUE(pickCom3());
  PressKeys({VK_END, VK_BACK, '9'});
  typed("COM9");
  PressKeys({VK_HOME, VK_DELETE});
  typed("OM9");

  // Picking an item from the open list after typing selects it, also the item the list
  // still had selected.
  for (int index : {1, 1, 0}) {
    SCOPED_TRACE(index);
    PressKeys({VK_F4});  // opens the list
    ASSERT_TRUE(PumpUntil(app, [&] { return SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0) != 0; }));
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PressKeys({VK_RETURN});
    ASSERT_TRUE(PumpUntil(app, [&] { return SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0) == 0; }));
    ASSERT_TRUE(PumpUntil(app, [&] { return form.edit.ItemIndex() == index; }));
    EXPECT_EQ(form.edit.Text(), index == 1 ? "COM3" : "COM1");
    EXPECT_EQ(TextOf(field), form.edit.Text());
    PressKeys({VK_END, 'X'});  // no shift: a small x
    typed(form.edit.Items()[static_cast<std::size_t>(index)] + "x");
  }
}

TEST_F(WindowBinding, ButtonClickRunsTheHandlerAndAnErrorGoesToTheErrorDisplay) {
  int clicks = 0;
  form.push.OnClick = [&] {
    ++clicks;
    if (clicks == 2) throw std::runtime_error("Unable to open com port");
  };
  SendMessageA(Find("push"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(app.errors.empty());
  SendMessageA(Find("push"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(app.errors.size(), 1u);
  EXPECT_EQ(app.errors[0], "Unable to open com port.");
  // A disabled button does not click.
  form.push.SetEnabled(false);
  SendMessageA(Find("push"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
}

TEST_F(WindowBinding, SpeedButtonClicksWithoutTakingTheFocus) {
  window->Show();
  SetForegroundWindow(window->Handle());
  const HWND list = Find("fixedList");
  SetFocus(list);
  ASSERT_TRUE(PumpUntil(app, [&] { return GetFocus() == list; }));
  int clicks = 0;
  form.speed.OnClick = [&] { ++clicks; };
  const HWND speed = Find("speed");
  PostMessageA(speed, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageA(speed, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ASSERT_TRUE(PumpUntil(app, [&] { return clicks == 1; }));
  EXPECT_EQ(GetFocus(), list);
}

// Without the mend, disabling the focused button leaves the focus with no control, and it
// stays there when the button is enabled again; a message box then gives it to the frame.
TEST_F(WindowBinding, FocusReturnsToAButtonDisabledWhileItHadTheFocus) {
  app.SetTitle("Focus test");
  window->Show();
  SetForegroundWindow(window->Handle());
  const HWND push = Find("push");
  SetFocus(push);
  ASSERT_TRUE(PumpUntil(app, [&] { return GetFocus() == push; }));
  HWND focusDuring = push;
  bool boxSeen = false;
  ui::Timer closer{"closer", &form.window, 10};
  closer.OnTimer = [&] {
    if (HWND box = FindWindowA("#32770", "Focus test")) {
      boxSeen = true;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  };
  form.push.OnClick = [&] {
    form.push.SetEnabled(false);
    app.ProcessMessages();
    focusDuring = GetFocus();
    form.push.SetEnabled(true);
    // A message at the end of the operation, as an error display would show.
    app.AddTimer(closer);
    app.ShowMessage("Done");
    app.RemoveTimer(closer);
  };
  SendMessageA(push, BM_CLICK, 0, 0);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(focusDuring, Find("fixedList"));
  ASSERT_TRUE(PumpUntil(app, [&] { return GetActiveWindow() == window->Handle(); }));
  EXPECT_EQ(GetFocus(), push);

  // The focus moved on meanwhile stays where it was put.
  const HWND other = Find("edit");
  form.push.OnClick = [&] {
    form.push.SetEnabled(false);
    SetFocus(other);
    form.push.SetEnabled(true);
  };
  SendMessageA(push, BM_CLICK, 0, 0);
  EXPECT_EQ(FocusedControlOf(GetFocus()), other);
}

TEST_F(WindowBinding, CloseAsksTheModelFirst) {
  window->Show();
  bool allow = false;
  int asked = 0;
  form.window.OnCloseQuery = [&] {
    ++asked;
    return allow;
  };
  SendMessageA(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(IsWindow(window->Handle()));
  EXPECT_FALSE(app.Terminated());

  allow = true;
  SendMessageA(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(IsWindow(window->Handle()));
  // The user closed the main window: the program ends.
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(app.Run(), 0);
}

TEST_F(WindowBinding, DestroyingTheWindowObjectDoesNotEndTheProgram) {
  const HWND handle = window->Handle();
  window.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(app.Terminated());
  // The models no longer reach a window.
  form.first.SetCaption("still fine");
  form.edit.Add("item");
}

// While it lives, every BUTTON window this thread tries to create fails.
class RefuseButtons {
 public:
  RefuseButtons() : hook_(SetWindowsHookExA(WH_CBT, &Refuse, nullptr, GetCurrentThreadId())) {}
  ~RefuseButtons() {
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  RefuseButtons(const RefuseButtons&) = delete;
  RefuseButtons& operator=(const RefuseButtons&) = delete;
  bool Hooked() const { return hook_ != nullptr; }

 private:
  static LRESULT CALLBACK Refuse(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
      const CREATESTRUCTA& create = *reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs;
      if (IS_INTRESOURCE(create.lpszClass)) return CallNextHookEx(nullptr, code, wParam, lParam);
      // With the common controls 6 the class name carries its version: "6.0.0.0!Button".
      const char* name = create.lpszClass;
      if (const char* mark = std::strrchr(name, '!')) name = mark + 1;
      if (lstrcmpiA(name, "BUTTON") == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HHOOK hook_;
};

TEST_F(WindowBinding, AWindowThatCannotBeBuiltThrowsWithoutEndingTheProgram) {
  ui::Window model{"Broken", "Broken", {0, 0, 100, 50}, "MS Sans Serif", -11};
  ui::Label label{"label", &model, {8, 8, 40, 13}, "Label"};
  ui::Button button{"button", &model, {8, 24, 75, 25}, "Button", 0};
  {
    RefuseButtons refuse;
    ASSERT_TRUE(refuse.Hooked());
    try {
      Win32Window broken(model, app);
      FAIL() << "the window was built";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Cannot create the control 'button'");
    }
  }
  EXPECT_FALSE(app.Terminated());
  MSG quit;
  EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  // The window that was built before still owns the message boxes.
  EXPECT_EQ(app.Owner(), window->Handle());
  // The models no longer reach a window.
  label.SetCaption("still fine");
  button.SetEnabled(false);
}

}  // namespace
}  // namespace gui_win32::testing
