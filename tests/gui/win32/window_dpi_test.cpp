// The window's layout scaled by the DPI of its monitor: at 96 DPI every number is the
// model's, at 144 DPI each is 1.5 times as large. Under Wine the test runs at both
// (LogPixels); PZ_TEST_EXPECT_DPI names the DPI the run is meant to have.
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace gui_win32::testing {
namespace {

class WindowDpi : public TestFormWindow {
 protected:
  int HeightOf(const char* name) const {
    RECT rect{};
    GetWindowRect(Find(name), &rect);
    return rect.bottom - rect.top;
  }

  static int AtDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), 96); }

  // Every control's place and size, the client area and the font, at `dpi`.
  void ExpectLayoutAt(UINT dpi) {
    EXPECT_EQ(window->Dpi(), dpi);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window->Handle(), &client));
    EXPECT_EQ(client.right, AtDpi(241, dpi));
    EXPECT_EQ(client.bottom, AtDpi(436, dpi));
    struct Expected {
      const char* name;
      RECT model;  // left, top, width, height in the client area at 96 DPI
      // A closed list is at least as high as its font needs (Wine's lists are never lower).
      bool heightAtLeast = false;
    };
    const Expected table[] = {
        {"first", {8, 8, 40, 13}},
        {"edit", {8, 24, 145, 21}, true},
        {"fixedList", {160, 24, 73, 21}, true},
        {"push", {8, 56, 105, 25}},
        {"group", {8, 88, 225, 81}},
        {"inner", {8 + 16, 88 + 27, 60, 13}},
        {"innerList", {128, 112, 81, 21}, true},
        {"overlay", {24, 112, 185, 41}},
        {"speed", {200, 400, 25, 25}},
    };
    for (const Expected& expected : table) {
      SCOPED_TRACE(expected.name);
      RECT rect{};
      GetWindowRect(Find(expected.name), &rect);
      MapWindowPoints(nullptr, window->Handle(), reinterpret_cast<POINT*>(&rect), 2);
      EXPECT_EQ(rect.left, AtDpi(expected.model.left, dpi));
      EXPECT_EQ(rect.top, AtDpi(expected.model.top, dpi));
      EXPECT_EQ(rect.right - rect.left, AtDpi(expected.model.right, dpi));
      if (expected.heightAtLeast) {
        EXPECT_GE(rect.bottom - rect.top, AtDpi(expected.model.bottom, dpi));
      } else {
        EXPECT_EQ(rect.bottom - rect.top, AtDpi(expected.model.bottom, dpi));
      }
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageA(Find("push"), WM_GETFONT, 0, 0));
    LOGFONTA description{};
    ASSERT_EQ(GetObjectA(font, sizeof description, &description), int{sizeof description});
    EXPECT_EQ(description.lfHeight, AtDpi(-11, dpi));
  }
};

TEST_F(WindowDpi, LayoutIsScaledToTheDpiOfTheMonitor) {
  if (const char* expected = std::getenv("PZ_TEST_EXPECT_DPI")) {
    EXPECT_EQ(window->Dpi(), static_cast<UINT>(std::atoi(expected)));
  }
  const UINT dpi = window->Dpi();
  ExpectLayoutAt(dpi);
  RECT frame{};
  GetWindowRect(window->Handle(), &frame);
  EXPECT_EQ(frame.left, AtDpi(192, dpi));
  EXPECT_EQ(frame.top, AtDpi(109, dpi));
}

TEST_F(WindowDpi, ADpiChangeScalesTheLayoutIntoTheSuggestedFrame) {
  const UINT first = window->Dpi();
  const UINT other = first == 144 ? 96 : 144;
  const int listHeight = HeightOf("edit");
  RECT suggested{50, 60, 50 + 400, 60 + 700};
  SendMessageA(window->Handle(), WM_DPICHANGED, MAKEWPARAM(other, other),
               reinterpret_cast<LPARAM>(&suggested));
  ExpectLayoutAt(other);
  RECT frame{};
  GetWindowRect(window->Handle(), &frame);
  EXPECT_EQ(frame.left, 50);
  EXPECT_EQ(frame.top, 60);
  // A list sized by its font grows with it.
  EXPECT_NEAR(HeightOf("edit"), AtDpi(listHeight, other * 96 / first), 1);
  // And back, where it is, to the numbers it started with.
  window->ApplyDpi(first);
  ExpectLayoutAt(first);
  EXPECT_EQ(HeightOf("edit"), listHeight);
  GetWindowRect(window->Handle(), &frame);
  EXPECT_EQ(frame.left, 50);
}

}  // namespace
}  // namespace gui_win32::testing
