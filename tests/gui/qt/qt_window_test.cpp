#include "gui_qt/qt_window.h"

#include "common/tab_order.h"
#include "gui_qt/qt_application.h"
#include "modal_watch.h"
#include "pick_item.h"
#include "qstring_print.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <stdexcept>

namespace {

using gui_qt::QtApplication;
using gui_qt::QtWindow;
using gui_qt_test::ModalWatch;

// A small window of every kind of control, laid out like a settings dialog.
struct TestForm {
  ui::Window window{"TestForm", "Test caption", {120, 60, 241, 200}, "MS Sans Serif", -11};
  ui::Label top{"LabelTop", &window, {8, 8, 0, 0}, "Port:"};
  ui::ComboBox edit{"cbEdit", &window, {8, 24, 145, 21}, ui::ComboStyle::DropDown, 0};
  ui::ComboBox fixed{"cbFixed", &window, {160, 24, 73, 21}, ui::ComboStyle::DropDownList, 3};
  ui::Button go{"btnGo", &window, {8, 56, 105, 25}, "Go", 2};
  ui::GroupBox group{"Group", &window, {8, 88, 225, 81}, " Group ", 1};
  ui::Label inner{"LabelInner", &group, {16, 27, 0, 0}, "Inner:"};
  ui::ComboBox innerCombo{"cbInner", &group, {120, 24, 81, 21}, ui::ComboStyle::DropDownList, 0};
  ui::Panel wait{"pWait", &window, {24, 100, 185, 41}, "Please wait...", 4};
  ui::Label covered{"LabelCovered", &window, {24, 140, 0, 0}, "Covered"};
  ui::Button help{"btnHelp", &window, {200, 170, 25, 25}, "?", -1, true};
  ui::Timer timer{"Timer", &window, 10};

  TestForm() {
    wait.SetVisible(false);
    for (const char* item : {"19200", "38400", "57600"}) fixed.Add(item);
    fixed.SetItemIndex(0);
    for (const char* item : {"COM3", "COM7"}) edit.Add(item);
    edit.SetItemIndex(1);
  }
};

class QtWindowTest : public testing::Test {
 protected:
  template <class W>
  W* Get(const char* name) {
    QWidget* widget = view.Find(name);
    EXPECT_NE(widget, nullptr) << name;
    W* typed = qobject_cast<W*>(widget);
    EXPECT_NE(typed, nullptr) << name << " has the wrong kind";
    return typed;
  }

  QtApplication app;
  TestForm form;
  QtWindow view{form.window, app};
};

TEST_F(QtWindowTest, EveryModelHasItsWidgetNamedPlacedAndParented) {
  const struct {
    const char* name;
    const char* kind;
    const char* parent;
    QRect bounds;  // width/height 0: sized to the text
    QString text;
  } table[] = {
      {"LabelTop", "QLabel", "TestForm", {8, 8, 0, 0}, "Port:"},
      {"cbEdit", "QComboBox", "TestForm", {8, 24, 145, 21}, "COM7"},
      {"cbFixed", "QComboBox", "TestForm", {160, 24, 73, 21}, "19200"},
      {"btnGo", "QPushButton", "TestForm", {8, 56, 105, 25}, "Go"},
      {"Group", "QGroupBox", "TestForm", {8, 88, 225, 81}, " Group "},
      {"LabelInner", "QLabel", "Group", {16, 27, 0, 0}, "Inner:"},
      {"cbInner", "QComboBox", "Group", {120, 24, 81, 21}, ""},
      {"pWait", "QLabel", "TestForm", {24, 100, 185, 41}, "Please wait..."},
      {"LabelCovered", "QLabel", "TestForm", {24, 140, 0, 0}, "Covered"},
      {"btnHelp", "QToolButton", "TestForm", {200, 170, 25, 25}, "?"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    QWidget* widget = view.Find(row.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), row.name);
    EXPECT_STREQ(widget->metaObject()->className(), row.kind);
    ASSERT_NE(widget->parentWidget(), nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), row.parent);
    EXPECT_EQ(widget->pos(), row.bounds.topLeft());
    if (row.bounds.width() > 0) {
      EXPECT_EQ(widget->size(), row.bounds.size());
    } else {
      EXPECT_GT(widget->width(), 0);
      EXPECT_GT(widget->height(), 0);
    }
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) text = combo->currentText();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) text = group->title();
    EXPECT_EQ(text, row.text);
  }
  EXPECT_EQ(view.Find("Timer"), nullptr);
  EXPECT_EQ(view.Find("TestForm"), &view.Widget());
}

TEST_F(QtWindowTest, ListsShowTheModelsItemsAndSelection) {
  auto* fixed = Get<QComboBox>("cbFixed");
  auto* edit = Get<QComboBox>("cbEdit");
  auto* inner = Get<QComboBox>("cbInner");
  EXPECT_FALSE(fixed->isEditable());
  EXPECT_TRUE(edit->isEditable());
  EXPECT_EQ(fixed->count(), 3);
  EXPECT_EQ(fixed->itemText(2), "57600");
  EXPECT_EQ(fixed->currentIndex(), 0);
  EXPECT_EQ(edit->currentIndex(), 1);
  EXPECT_EQ(inner->count(), 0);
  EXPECT_EQ(inner->currentIndex(), -1);
}

TEST_F(QtWindowTest, ItemHintsAreTheItemsTooltips) {
  auto* edit = Get<QComboBox>("cbEdit");
  EXPECT_FALSE(edit->itemData(0, Qt::ToolTipRole).isValid());
  form.edit.Clear();
  form.edit.Add("COM3", "/dev/ttyS2");
  form.edit.Add("COM5");
  form.edit.Add("COM9", "/dev/ttyUSB4");
  ASSERT_EQ(edit->count(), 3);
  EXPECT_EQ(edit->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS2");
  EXPECT_FALSE(edit->itemData(1, Qt::ToolTipRole).isValid());
  EXPECT_EQ(edit->itemData(2, Qt::ToolTipRole).toString(), "/dev/ttyUSB4");
  // The same names leading elsewhere: only the hints change.
  form.edit.Clear();
  form.edit.Add("COM3", "/dev/ttyACM0");
  form.edit.Add("COM5", "/dev/ttyUSB1");
  form.edit.Add("COM9");
  EXPECT_EQ(edit->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyACM0");
  EXPECT_EQ(edit->itemData(1, Qt::ToolTipRole).toString(), "/dev/ttyUSB1");
  EXPECT_FALSE(edit->itemData(2, Qt::ToolTipRole).isValid());
}

TEST_F(QtWindowTest, FilledFixedListSelectsOnlyWhatTheModelSelects) {
  // The toolkit would select the first item of a filled fixed list by itself; the model
  // must not hear of it.
  auto* inner = Get<QComboBox>("cbInner");
  for (int i = 1; i <= 31; ++i) form.innerCombo.Add(std::to_string(i));
  EXPECT_EQ(form.innerCombo.ItemIndex(), -1);
  EXPECT_EQ(inner->count(), 31);
  EXPECT_EQ(inner->currentIndex(), -1);
  form.innerCombo.SetItemIndex(30);
  EXPECT_EQ(inner->currentText(), "31");
  form.innerCombo.Clear();
  EXPECT_EQ(inner->count(), 0);
  EXPECT_EQ(form.innerCombo.ItemIndex(), -1);
}

TEST_F(QtWindowTest, UserChangesReachTheModel) {
  view.Show();
  auto* fixed = Get<QComboBox>("cbFixed");
  QTest::keyClick(fixed, Qt::Key_Down);
  EXPECT_EQ(form.fixed.ItemIndex(), 1);
  EXPECT_EQ(form.fixed.Text(), "38400");

  auto* edit = Get<QComboBox>("cbEdit");
  edit->lineEdit()->selectAll();
  QTest::keyClicks(edit->lineEdit(), "COM12");
  EXPECT_EQ(form.edit.Text(), "COM12");
  EXPECT_EQ(form.edit.ItemIndex(), -1);
  EXPECT_EQ(edit->currentText(), "COM12");

  // Picking from the drop-down the item the widget still counts as current.
  ASSERT_EQ(edit->currentIndex(), 1);
  ASSERT_TRUE(gui_qt_test::PickItem(*edit, 1));
  EXPECT_EQ(form.edit.ItemIndex(), 1);
  EXPECT_EQ(form.edit.Text(), "COM7");
  EXPECT_EQ(edit->currentText(), "COM7");

  edit->setCurrentIndex(0);  // a keyboard or wheel step changes the index
  EXPECT_EQ(form.edit.ItemIndex(), 0);
  EXPECT_EQ(form.edit.Text(), "COM3");
}

TEST_F(QtWindowTest, ModelChangesReachTheWidgets) {
  form.window.SetCaption("New caption");
  EXPECT_EQ(view.Widget().windowTitle(), "New caption");

  auto* label = Get<QLabel>("LabelInner");
  const int narrow = label->width();
  form.inner.SetCaption("A much longer caption than before");
  EXPECT_EQ(label->text(), "A much longer caption than before");
  EXPECT_GT(label->width(), narrow);

  view.Show();
  auto* panel = Get<QLabel>("pWait");
  EXPECT_FALSE(panel->isVisible());
  form.wait.SetVisible(true);
  EXPECT_TRUE(panel->isVisible());
  form.wait.SetCaption("Reading...");
  EXPECT_EQ(panel->text(), "Reading...");

  auto* go = Get<QPushButton>("btnGo");
  form.go.SetEnabled(false);
  EXPECT_FALSE(go->isEnabled());
  form.edit.SetText("COM9");
  EXPECT_EQ(Get<QComboBox>("cbEdit")->currentText(), "COM9");
}

TEST_F(QtWindowTest, WindowIsAFixedSizeDialogAtItsPosition) {
  QWidget& window = view.Widget();
  EXPECT_EQ(window.objectName(), "TestForm");
  EXPECT_EQ(window.windowTitle(), "Test caption");
  EXPECT_EQ(window.minimumSize(), QSize(241, 200));
  EXPECT_EQ(window.maximumSize(), QSize(241, 200));
  EXPECT_EQ(window.size(), QSize(241, 200));
  EXPECT_EQ(window.pos(), QPoint(120, 60));
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::MSWindowsFixedSizeDialogHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(QtWindowTest, FontAndBackgroundAreTheDialogs) {
  QWidget& window = view.Widget();
  EXPECT_EQ(window.font().pointSize(), 8);
  const QString family = QFontInfo(window.font()).family();
  if (QFontDatabase::families().contains("MS Sans Serif")) {
    EXPECT_EQ(family, "MS Sans Serif");
  } else {
    EXPECT_TRUE(QFontDatabase::families().contains(family)) << family.toStdString();
    EXPECT_FALSE(QFontDatabase::isFixedPitch(family));
  }
  EXPECT_EQ(Get<QLabel>("LabelTop")->font().pointSize(), 8);
  EXPECT_EQ(window.palette().color(QPalette::Window), window.palette().color(QPalette::Button));
  EXPECT_TRUE(window.autoFillBackground());
}

TEST_F(QtWindowTest, LabelUnderAGroupBoxIsCovered) {
  QWidget& window = view.Widget();
  const QWidget* covered = Get<QLabel>("LabelCovered");
  const QPoint inside = covered->geometry().center();
  QWidget* top = window.childAt(inside);
  ASSERT_NE(top, nullptr);
  EXPECT_NE(top, covered);
  EXPECT_TRUE(top == Get<QGroupBox>("Group") || top == Get<QLabel>("pWait"));
  // A label beside the group box is not covered.
  EXPECT_EQ(window.childAt(Get<QLabel>("LabelTop")->geometry().center()), Get<QLabel>("LabelTop"));
}

TEST_F(QtWindowTest, TabOrderFollowsTheModelsPerContainer) {
  std::vector<QString> names;
  for (QWidget* widget : gui_qt::TabChain(
           form.window, [this](const ui::Control& control) { return view.Find(control.Name()); })) {
    names.push_back(widget->objectName());
  }
  EXPECT_EQ(names, (std::vector<QString>{"cbEdit", "cbInner", "btnGo", "cbFixed"}));

  // The same order as Qt moves the focus with the Tab key.
  view.Show();
  view.Widget().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view.Widget()));
  Get<QComboBox>("cbEdit")->setFocus();
  std::vector<QString> visited{"cbEdit"};
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    // An editable list's (unnamed) line edit stands for its list.
    if (focus->objectName().isEmpty() && focus->parentWidget()) {
      focus = focus->parentWidget();
    }
    visited.push_back(focus->objectName());
  }
  EXPECT_EQ(visited, names);
  EXPECT_EQ(Get<QToolButton>("btnHelp")->focusPolicy(), Qt::NoFocus);
  EXPECT_NE(Get<QPushButton>("btnGo")->focusPolicy(), Qt::NoFocus);
}

TEST_F(QtWindowTest, ClicksRunTheHandlersAndErrorsAreShown) {
  view.Show();
  int goClicks = 0;
  int helpClicks = 0;
  form.go.OnClick = [&] { ++goClicks; };
  form.help.OnClick = [&] {
    if (++helpClicks == 1) throw std::runtime_error("Help failed");
  };
  QTest::mouseClick(Get<QPushButton>("btnGo"), Qt::LeftButton);
  EXPECT_EQ(goClicks, 1);

  QString shown;
  {
    ModalWatch watch([&](QMessageBox& box) { shown = box.text(); });
    QTest::mouseClick(Get<QToolButton>("btnHelp"), Qt::LeftButton);
    EXPECT_TRUE(watch.Seen());
  }
  EXPECT_EQ(shown, "Help failed.");
  // Still running: the next click works.
  QTest::mouseClick(Get<QToolButton>("btnHelp"), Qt::LeftButton);
  EXPECT_EQ(helpClicks, 2);

  form.go.SetEnabled(false);
  QTest::mouseClick(Get<QPushButton>("btnGo"), Qt::LeftButton);
  EXPECT_EQ(goClicks, 1);
}

// Without the filter only Space pressed a focused button; Enter did nothing.
TEST_F(QtWindowTest, EnterAndSpacePressTheFocusedButton) {
  view.Show();
  view.Widget().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view.Widget()));
  int clicks = 0;
  form.go.OnClick = [&] { ++clicks; };
  auto* go = Get<QPushButton>("btnGo");
  go->setFocus();
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    QTest::keyClick(go, key);
  }
  EXPECT_EQ(clicks, 3);
  QTest::keyClick(go, Qt::Key_Return, Qt::ControlModifier);
  form.go.SetEnabled(false);
  QTest::keyClick(go, Qt::Key_Return);
  EXPECT_EQ(clicks, 3);
}

// The toolkit's own wrapping split device paths after a "/", in a font of its own.
TEST_F(QtWindowTest, MessageBoxesShareTheWindowsFontAndBreakOnlyAtSpaces) {
  const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  const QString text = "COM Port Error: Unable to open com port on COM5.\n\n" + path +
                       ": permission denied: the device belongs to group dialout; join it with "
                       "`sudo usermod -aG dialout $USER` and log in again";
  QString shown;
  QFont font;
  ModalWatch watch([&](QMessageBox& box) {
    shown = box.text();
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    font = label ? label->font() : QFont();
  });
  app.ShowMessage(text.toStdString());
  ASSERT_TRUE(watch.Seen());
  EXPECT_EQ(QFontInfo(font).family(), QFontInfo(view.Widget().font()).family());
  EXPECT_EQ(font.pointSize(), view.Widget().font().pointSize());
  EXPECT_TRUE(shown.contains(path)) << shown.toStdString();
  EXPECT_GT(shown.count('\n'), 2) << shown.toStdString();
  // Every break stands where a space stood.
  const QStringList lines = shown.split('\n');
  const QStringList paragraphs = text.split('\n');
  EXPECT_EQ(QString(shown).replace('\n', ' '), QString(text).replace('\n', ' '));
  EXPECT_EQ(lines.mid(0, 2), paragraphs.mid(0, 2));
  EXPECT_TRUE(lines[2].startsWith(path)) << shown.toStdString();
}

TEST_F(QtWindowTest, CloseAsksTheModelFirst) {
  view.Show();
  bool allow = false;
  int asked = 0;
  form.window.OnCloseQuery = [&] {
    ++asked;
    return allow;
  };
  view.Widget().close();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(view.Widget().isVisible());
  EXPECT_FALSE(app.Terminated());

  allow = true;
  view.Widget().close();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(view.Widget().isVisible());
  EXPECT_TRUE(app.Terminated());
}

TEST_F(QtWindowTest, CloseQueryErrorIsShownAndKeepsTheWindowOpen) {
  view.Show();
  form.window.OnCloseQuery = []() -> bool { throw std::runtime_error("Busy"); };
  QString shown;
  ModalWatch watch([&](QMessageBox& box) { shown = box.text(); });
  view.Widget().close();
  EXPECT_TRUE(watch.Seen());
  EXPECT_EQ(shown, "Busy.");
  EXPECT_TRUE(view.Widget().isVisible());
  EXPECT_FALSE(app.Terminated());
}

TEST(QtWindowLifetime, ModelsOutliveTheirWindowSafely) {
  QtApplication app;
  TestForm form;
  {
    QtWindow view(form.window, app);
    view.Show();
  }
  // The window is gone; changing the models must not reach it.
  form.fixed.Add("115200");
  form.fixed.SetItemIndex(3);
  form.window.SetCaption("Later");
  EXPECT_EQ(form.fixed.Text(), "115200");
}

}  // namespace
