#include "ui/controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A window with one list of each style, counting what the back end would be told.
struct Lists {
  ui::Window window{"W", "caption", {0, 0, 100, 100}, "MS Sans Serif", -11};
  ui::ComboBox editable{"cbEdit", &window, {0, 0, 50, 21}, ui::ComboStyle::DropDown, 0};
  ui::ComboBox fixed{"cbFixed", &window, {0, 30, 50, 21}, ui::ComboStyle::DropDownList, 1};
  int editableChanges = 0;
  int fixedChanges = 0;

  Lists() {
    for (const char* item : {"COM1", "COM3", "COM7"}) {
      editable.Add(item);
      fixed.Add(item);
    }
    editable.SetWatcher([this](ui::Control&) { ++editableChanges; });
    fixed.SetWatcher([this](ui::Control&) { ++fixedChanges; });
  }
};

TEST(ComboBoxSelection, SelectingAnItemShowsItsText) {
  Lists l;
  l.fixed.SetItemIndex(1);
  EXPECT_EQ(l.fixed.ItemIndex(), 1);
  EXPECT_EQ(l.fixed.Text(), "COM3");
  EXPECT_EQ(l.fixedChanges, 1);
}

TEST(ComboBoxSelection, AnIndexOutsideTheListSelectsNothingAndEmptiesTheText) {
  Lists l;
  for (int index : {3, 100, -2}) {
    l.fixed.SetItemIndex(0);
    l.fixed.SetItemIndex(index);
    EXPECT_EQ(l.fixed.ItemIndex(), -1) << index;
    EXPECT_EQ(l.fixed.Text(), "") << index;
  }
}

TEST(ComboBoxSelection, SelectingNothingAlsoEmptiesTypedText) {
  Lists l;
  l.editable.SetText("/dev/ttyUSB0");
  l.editable.SetItemIndex(-1);
  EXPECT_EQ(l.editable.Text(), "");
}

TEST(ComboBoxSelection, UnchangedStateTellsTheBackEndNothing) {
  Lists l;
  l.fixed.SetItemIndex(2);
  l.fixed.SetItemIndex(2);
  l.fixed.SetItemIndex(-1);
  l.fixed.SetItemIndex(7);  // also nothing: no selection already
  EXPECT_EQ(l.fixedChanges, 2);
  l.editable.SetText("COM9");
  l.editable.SetText("COM9");
  EXPECT_EQ(l.editableChanges, 1);
}

TEST(ComboBoxTyping, TypingInAnEditableListKeepsTheTextAndDropsAStaleSelection) {
  Lists l;
  l.editable.SetItemIndex(1);
  l.editable.SetText("COM9");
  EXPECT_EQ(l.editable.Text(), "COM9");
  EXPECT_EQ(l.editable.ItemIndex(), -1);
}

TEST(ComboBoxTyping, TypingTheSelectedItemsTextKeepsTheSelection) {
  Lists l;
  l.editable.SetItemIndex(2);
  l.editable.SetText("COM7");
  EXPECT_EQ(l.editable.ItemIndex(), 2);
}

TEST(ComboBoxTyping, AFixedListTakesOnlyTheTextOfAnItem) {
  Lists l;
  l.fixed.SetText("COM7");
  EXPECT_EQ(l.fixed.ItemIndex(), 2);
  EXPECT_EQ(l.fixed.Text(), "COM7");
  l.fixed.SetText("COM9");
  EXPECT_EQ(l.fixed.ItemIndex(), -1);
  EXPECT_EQ(l.fixed.Text(), "");
}

TEST(ComboBoxItems, ClearEmptiesItemsSelectionAndText) {
  Lists l;
  l.editable.SetItemIndex(0);
  l.editable.Clear();
  EXPECT_TRUE(l.editable.Items().empty());
  EXPECT_EQ(l.editable.ItemIndex(), -1);
  EXPECT_EQ(l.editable.Text(), "");
  l.editable.SetItemIndex(0);  // nothing left to select
  EXPECT_EQ(l.editable.ItemIndex(), -1);
}

TEST(ComboBoxItems, AddingKeepsTheOrderAndTheSelection) {
  Lists l;
  l.fixed.SetItemIndex(1);
  l.fixed.Add("COM12");
  EXPECT_EQ(l.fixed.Items(), (std::vector<std::string>{"COM1", "COM3", "COM7", "COM12"}));
  EXPECT_EQ(l.fixed.ItemIndex(), 1);
  EXPECT_EQ(l.fixed.Text(), "COM3");
}

TEST(ControlTree, ChildrenLeaveTheirParentWhenDestroyed) {
  ui::Window window{"W", "caption", {0, 0, 100, 100}, "MS Sans Serif", -11};
  {
    ui::Label label{"Label1", &window, {8, 8, 0, 0}, "Port num:"};
    ASSERT_EQ(window.Children().size(), 1u);
    EXPECT_EQ(window.Children()[0]->Name(), "Label1");
  }
  EXPECT_TRUE(window.Children().empty());
}

TEST(ControlTree, TabOrderPutsControlsWithoutOneLast) {
  ui::Window window{"W", "caption", {0, 0, 100, 100}, "MS Sans Serif", -11};
  ui::Button first{"b0", &window, {}, "a", 0};
  ui::Button second{"b5", &window, {}, "b", 5};
  ui::Label none{"l", &window, {}, "c"};
  EXPECT_TRUE(ui::TabOrderBefore(first, second));
  EXPECT_TRUE(ui::TabOrderBefore(second, none));
  EXPECT_FALSE(ui::TabOrderBefore(none, first));
}

TEST(Buttons, ADisabledButtonIgnoresClicks) {
  ui::Window window{"W", "caption", {0, 0, 100, 100}, "MS Sans Serif", -11};
  ui::Button button{"btnRead", &window, {}, "Read settings", 2};
  int clicks = 0;
  button.OnClick = [&] { ++clicks; };
  button.Click();
  button.SetEnabled(false);
  button.Click();
  EXPECT_EQ(clicks, 1);
}

}  // namespace
