// The window and its controls as the system sees them: classes, styles, geometry, font,
// z-order and keyboard order.
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace gui_win32::testing {
namespace {

class WindowLayout : public TestFormWindow {
 protected:
  // An editable list has the focus in its edit field.
  bool FocusIn(const char* name) const {
    const HWND focus = GetFocus();
    return focus && (focus == Find(name) || GetParent(focus) == Find(name));
  }
};

// Its place and size, and the controls', at each DPI: window_dpi_test.cpp.
TEST_F(WindowLayout, FrameIsAFixedDialogOwnedByTheApplicationWindow) {
  const HWND frame = window->Handle();
  EXPECT_EQ(TextOf(frame), "Test caption");
  const DWORD style = StyleOf(frame);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongPtrA(frame, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  // Owned by the application window: the task-bar button is the application's.
  EXPECT_EQ(GetWindow(frame, GW_OWNER), app.Handle());
}

TEST_F(WindowLayout, EachKindOfControlIsItsStandardWindowClass) {
  struct Expected {
    const char* name;
    const char* className;
    DWORD typeMask;
    DWORD type;
    bool tabStop;
  };
  const Expected table[] = {
      {"first", "Static", SS_TYPEMASK, SS_LEFT, false},
      {"edit", "ComboBox", 3, CBS_DROPDOWN, true},
      {"fixedList", "ComboBox", 3, CBS_DROPDOWNLIST, true},
      {"innerList", "ComboBox", 3, CBS_DROPDOWNLIST, true},
      {"push", "Button", BS_TYPEMASK, BS_PUSHBUTTON, true},
      {"group", "Button", BS_TYPEMASK, BS_GROUPBOX, false},
      {"overlay", "Static", SS_TYPEMASK, SS_CENTER, false},
      {"speed", "Static", SS_TYPEMASK, SS_OWNERDRAW, false},
  };
  for (const auto& expected : table) {
    SCOPED_TRACE(expected.name);
    const HWND control = Find(expected.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), window->Handle());
    EXPECT_EQ(_stricmp(ClassOf(control).c_str(), expected.className), 0) << ClassOf(control);
    EXPECT_EQ(StyleOf(control) & expected.typeMask, expected.type);
    EXPECT_EQ((StyleOf(control) & WS_TABSTOP) != 0, expected.tabStop);
  }
  EXPECT_EQ(TextOf(Find("push")), "Push");
  EXPECT_EQ(TextOf(Find("group")), " Group ");
  EXPECT_EQ(TextOf(Find("overlay")), "Please wait...");
  EXPECT_EQ(TextOf(Find("speed")), "?");
  EXPECT_EQ(Find("nothing"), nullptr);
}

TEST_F(WindowLayout, EveryControlUsesTheModelsFont) {
  for (const char* name : {"first", "edit", "push", "group", "speed"}) {
    SCOPED_TRACE(name);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(Find(name), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA description{};
    ASSERT_EQ(GetObjectA(font, sizeof description, &description), int{sizeof description});
    EXPECT_STREQ(description.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(description.lfHeight, MulDiv(-11, static_cast<int>(window->Dpi()), 96));
  }
}

TEST_F(WindowLayout, ZOrderPutsPanelsOnTopGroupsUnderTheirContentsAndLabelsAtTheBottom) {
  std::vector<std::string> order;
  for (HWND child = GetWindow(window->Handle(), GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    for (const char* name : {"first", "edit", "fixedList", "push", "group", "inner", "innerList",
                             "innerFirst", "overlay", "covered", "speed", "autosized"}) {
      if (Find(name) == child) order.push_back(name);
    }
  }
  const std::vector<std::string> expected{"overlay", "edit",    "innerFirst", "innerList",
                                          "inner",   "group",   "push",       "fixedList",
                                          "first",   "covered", "speed",      "autosized"};
  EXPECT_EQ(order, expected);
}

TEST_F(WindowLayout, LabelWhollyUnderAGroupBoxIsHiddenUntilTheGroupGoes) {
  window->Show();
  EXPECT_TRUE(IsWindowVisible(Find("first")));
  EXPECT_TRUE(IsWindowVisible(Find("inner")));
  EXPECT_FALSE(IsWindowVisible(Find("covered")));
  form.group.SetVisible(false);
  EXPECT_TRUE(IsWindowVisible(Find("covered")));
  form.group.SetVisible(true);
  EXPECT_FALSE(IsWindowVisible(Find("covered")));
  // The group box clips nothing, so a control of the window over it stays whole.
  EXPECT_TRUE(GetWindowLongPtrA(Find("group"), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
}

TEST_F(WindowLayout, LabelWithoutASizeFitsItsCaption) {
  auto size = [&](const char* name) {
    RECT rect{};
    GetWindowRect(Find(name), &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
  };
  const SIZE fitted = size("autosized");
  EXPECT_GT(fitted.cy, 8);
  EXPECT_GT(fitted.cx, 10);
  form.autosized.SetCaption("Sized to a much longer caption");
  EXPECT_GT(size("autosized").cx, fitted.cx * 3);
  // A label with a size of its own keeps it.
  form.first.SetCaption("A caption far longer than its label");
  EXPECT_EQ(size("first").cx, MulDiv(40, static_cast<int>(window->Dpi()), 96));
}

TEST_F(WindowLayout, KeyboardOrderFollowsTheModelsTabOrderThroughContainers) {
  const HWND frame = window->Handle();
  std::vector<HWND> expected{Find("edit"), Find("innerFirst"), Find("innerList"), Find("push"),
                             Find("fixedList")};
  HWND current = GetNextDlgTabItem(frame, nullptr, FALSE);
  for (std::size_t i = 0; i < expected.size() * 2; ++i) {
    EXPECT_EQ(current, expected[i % expected.size()]) << "step " << i;
    current = GetNextDlgTabItem(frame, current, FALSE);
  }
}

TEST_F(WindowLayout, TabKeyMovesTheFocusThroughTheMessageLoop) {
  window->Show();
  SetForegroundWindow(window->Handle());
  ASSERT_TRUE(PumpUntil(app, [&] { return FocusIn("edit"); }));
  // The key goes to the focused control; IsDialogMessage in the loop turns it into a move.
  PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
  EXPECT_TRUE(PumpUntil(app, [&] { return FocusIn("innerFirst"); }));
  PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
  EXPECT_TRUE(PumpUntil(app, [&] { return FocusIn("innerList"); }));
}

}  // namespace
}  // namespace gui_win32::testing
