// The configurator's window on the Qt back end, against the emulated device on virtual
// lines.
#include "configurator/form_layout_table.h"
#include "configurator/form_pzrq480.h"
#include "device/virtual_line_device.h"
#include "gui_qt/qt_application.h"
#include "gui_qt/qt_window.h"
#include "modal_watch.h"
#include "pick_item.h"
#include "qstring_print.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using configurator::TFormPZRQ480;
using gui_qt_test::ModalWatch;

// Every COM1..COM20 of the port map leads nowhere, so start-up finds only the virtual
// lines a test creates, whatever devices the machine has.
class EmptyPortMap {
 public:
  EmptyPortMap()
      : dir_(std::filesystem::temp_directory_path() /
             ("pz-qt-ports-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
    for (int i = 1; i <= 20; ++i) {
      const auto link = dir_ / ("COM" + std::to_string(i));
      std::error_code ignored;
      std::filesystem::remove(link, ignored);
      std::filesystem::create_symlink("/nonexistent", link);
    }
    ::setenv("PZ_PORT_MAP_DIR", dir_.c_str(), 1);
  }
  ~EmptyPortMap() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path dir_;
};

class FormWindowTest : public testing::Test {
 protected:
  FormWindowTest() { static EmptyPortMap map; }

  void AddDevice(const std::string& port, device::DeviceState state = {}) {
    devices.push_back(std::make_unique<device::VirtualLineDevice>(port, state));
  }

  // As the program starts: the form, its widgets, start-up, the window shown.
  void Start() {
    form = std::make_unique<TFormPZRQ480>(app);
    view = std::make_unique<gui_qt::QtWindow>(form->Window(), app);
    app.RunHandler([this] { form->FormCreate(); });
    view->Show();
  }

  template <class W>
  W* Get(const char* name) {
    W* widget = qobject_cast<W*>(view->Find(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  gui_qt::QtApplication app;
  std::vector<std::unique_ptr<device::VirtualLineDevice>> devices;
  std::unique_ptr<TFormPZRQ480> form;
  std::unique_ptr<gui_qt::QtWindow> view;
};

// The Qt widget that stands for each kind of control model.
const char* QtClassOf(ui::ControlKind kind) {
  switch (kind) {
    case ui::ControlKind::Label:
    case ui::ControlKind::Panel:
      return "QLabel";
    case ui::ControlKind::ComboBox:
      return "QComboBox";
    case ui::ControlKind::Button:
      return "QPushButton";
    case ui::ControlKind::SpeedButton:
      return "QToolButton";
    case ui::ControlKind::GroupBox:
      return "QGroupBox";
    case ui::ControlKind::Window:
    case ui::ControlKind::Timer:
      break;
  }
  return "";
}

TEST_F(FormWindowTest, WidgetsMatchTheWindowTable) {
  AddDevice("COM3");
  AddDevice("COM7");
  Start();
  const QStringList rates{"19200", "38400", "57600", "115200"};
  // What each list holds after the start-up with COM3 and COM7 present.
  const struct {
    const char* name;
    QString text;
    int items;
    QString first;
    QString last;
  } lists[] = {
      {"cbPort", "COM3", 2, "COM3", "COM7"},
      {"cbSearchBaud", "19200", 4, "19200", "115200"},
      {"cbXPAddr", "31", 31, "1", "31"},
      {"cbBaudRate", "19200", 4, "19200", "115200"},
      {"cbS88Addr", "65", 192, "1", "192"},
      {"cbS88Num", "1", 126, "1", "126"},
      {"cbCommStat", "General (Lenz, Roco)", 2, "General (Lenz, Roco)", "Tran ZF5"},
  };
  for (const configurator::testing::LayoutRow& row : configurator::testing::kFormLayout) {
    if (row.kind == ui::ControlKind::Timer) continue;
    SCOPED_TRACE(row.name);
    QWidget* widget = view->Find(row.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), row.name);
    EXPECT_STREQ(widget->metaObject()->className(), QtClassOf(row.kind));
    EXPECT_EQ(widget->parentWidget()->objectName(), row.parent);
    EXPECT_EQ(widget->pos(), QPoint(row.bounds.left, row.bounds.top));
    if (row.bounds.width > 0) {
      EXPECT_EQ(widget->size(), QSize(row.bounds.width, row.bounds.height));
    }
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) text = group->title();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      const auto list = std::find_if(std::begin(lists), std::end(lists), [&](const auto& l) {
        return std::string(l.name) == row.name;
      });
      ASSERT_NE(list, std::end(lists));
      EXPECT_EQ(combo->currentText(), list->text);
      ASSERT_EQ(combo->count(), list->items);
      EXPECT_EQ(combo->itemText(0), list->first);
      EXPECT_EQ(combo->itemText(list->items - 1), list->last);
      EXPECT_EQ(combo->isEditable(), std::string(row.name) == "cbPort");
    } else {
      EXPECT_EQ(text, QString(row.caption));
    }
  }
  EXPECT_EQ(Get<QComboBox>("cbBaudRate")->count(), rates.size());

  QWidget& window = view->Widget();
  EXPECT_EQ(window.objectName(), configurator::testing::kFormName);
  EXPECT_EQ(window.windowTitle(), configurator::testing::kFormCaption);
  EXPECT_EQ(window.size(), QSize(configurator::testing::kFormBounds.width,
                                 configurator::testing::kFormBounds.height));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_EQ(window.pos(), QPoint(configurator::testing::kFormBounds.left,
                                 configurator::testing::kFormBounds.top));
  EXPECT_FALSE(window.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(window.font().pointSize(), 8);

  // The wait panel is hidden; shown, it lies over the base settings.
  auto* wait = Get<QLabel>("pWait");
  EXPECT_FALSE(wait->isVisible());
  form->pWait.SetVisible(true);
  EXPECT_EQ(window.childAt(wait->geometry().center()), wait);
  form->pWait.SetVisible(false);
  // Label5 is covered by the S88 group box; cbS88Num sits over it.
  EXPECT_NE(window.childAt(Get<QLabel>("Label5")->geometry().center()), Get<QLabel>("Label5"));
  const QWidget* overNum = window.childAt(Get<QComboBox>("cbS88Num")->geometry().center());
  ASSERT_NE(overNum, nullptr);
  EXPECT_TRUE(overNum == Get<QComboBox>("cbS88Num") ||
              overNum->parentWidget() == Get<QComboBox>("cbS88Num"));

  EXPECT_EQ(Get<QToolButton>("SpeedButton1")->focusPolicy(), Qt::NoFocus);
  QTimer* timer = app.TimerOf(form->Timer1);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 10);
  EXPECT_TRUE(timer->isActive());
}

TEST_F(FormWindowTest, TabKeyWalksTheTableOrder) {
  AddDevice("COM3");
  Start();
  view->Widget().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view->Widget()));
  Get<QComboBox>("cbPort")->setFocus();
  const std::vector<QString> expected{"cbPort",     "cbXPAddr", "cbBaudRate", "btnRead",
                                      "cbS88Addr",  "btnWrite", "cbS88Num",   "cbSearchBaud",
                                      "cbCommStat", "cbPort"};
  std::vector<QString> visited;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    // The editable list's line edit has no name of its own.
    if (focus->objectName().isEmpty()) focus = focus->parentWidget();
    visited.push_back(focus->objectName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(FormWindowTest, ReadSettingsFillsTheListsAndTheVersion) {
  device::DeviceState state;
  state.hardwareVersion = 0x12;
  state.softwareVersion = 7;
  state.settings = {12, 1, 33, 4, 1};
  AddDevice("COM3", state);
  Start();
  ASSERT_EQ(Get<QComboBox>("cbPort")->currentText(), "COM3");

  // The wait panel shows while the read runs, mirrored from inside the handler.
  bool waitShown = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout,
                   [&] { waitShown |= Get<QLabel>("pWait")->isVisible(); });
  watch.start(1);
  QTest::mouseClick(Get<QPushButton>("btnRead"), Qt::LeftButton);
  watch.stop();

  EXPECT_TRUE(waitShown);
  EXPECT_FALSE(Get<QLabel>("pWait")->isVisible());
  EXPECT_EQ(Get<QLabel>("lVer")->text(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(Get<QComboBox>("cbXPAddr")->currentText(), "12");
  EXPECT_EQ(Get<QComboBox>("cbBaudRate")->currentText(), "19200");
  EXPECT_EQ(Get<QComboBox>("cbS88Addr")->currentText(), "33");
  EXPECT_EQ(Get<QComboBox>("cbS88Num")->currentText(), "4");
  EXPECT_EQ(Get<QComboBox>("cbCommStat")->currentText(), "Tran ZF5");
  EXPECT_TRUE(Get<QPushButton>("btnRead")->isEnabled());
  EXPECT_FALSE(form->ComPort->Connected());
}

// Without the mend, the focus stays on the control after the button that was disabled
// during the operation, and the next Space opens a list instead of reading again.
TEST_F(FormWindowTest, FocusReturnsToTheButtonThatStartedTheOperation) {
  AddDevice("COM3");
  Start();
  view->Widget().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view->Widget()));
  for (const char* name : {"btnRead", "btnWrite"}) {
    SCOPED_TRACE(name);
    auto* button = Get<QPushButton>(name);
    button->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), button);
    QWidget* focusDuring = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (form->Busy() && !focusDuring) focusDuring = QApplication::focusWidget();
    });
    watch.start(1);
    QTest::keyClick(button, Qt::Key_Space);
    watch.stop();
    EXPECT_EQ(Get<QLabel>("lVer")->text(), "HW ver.: 1.2,  SW ver.: 7");
    // Disabled meanwhile, the button had handed the focus on.
    EXPECT_NE(focusDuring, nullptr);
    EXPECT_NE(focusDuring, button);
    EXPECT_EQ(QApplication::focusWidget(), button);
  }
}

// The focus moved on by the user during the operation stays where the user put it.
TEST_F(FormWindowTest, FocusMovedDuringTheOperationStaysWhereItWasPut) {
  AddDevice("COM3");
  Start();
  view->Widget().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view->Widget()));
  auto* button = Get<QPushButton>("btnRead");
  auto* chosen = Get<QComboBox>("cbCommStat");
  button->setFocus();
  QTimer mover;
  QObject::connect(&mover, &QTimer::timeout, [&] {
    if (form->Busy() && QApplication::focusWidget() != chosen) chosen->setFocus();
  });
  mover.start(1);
  QTest::keyClick(button, Qt::Key_Space);
  mover.stop();
  EXPECT_EQ(QApplication::focusWidget(), chosen);
}

TEST_F(FormWindowTest, InformationButtonShowsThePlainMessage) {
  Start();
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Critical;
  ModalWatch watch([&](QMessageBox& box) {
    caption = box.windowTitle();
    text = box.text();
    icon = box.icon();
  });
  QTest::mouseClick(Get<QToolButton>("SpeedButton1"), Qt::LeftButton);
  ASSERT_TRUE(watch.Seen());
  EXPECT_EQ(caption, "PZ-RQ480 PC interface configurator");
  EXPECT_TRUE(text.startsWith("PZ-RQ480, PC interface configurator\n\n")) << text.toStdString();
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST_F(FormWindowTest, PortErrorOfAHandlerIsShownAndTheWindowGoesOn) {
  AddDevice("COM3");
  Start();
  // "Write settings" opens the typed port, which leads nowhere.
  Get<QComboBox>("cbPort")->setEditText("COM9");
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  {
    ModalWatch watch([&](QMessageBox& box) {
      text = box.text();
      icon = box.icon();
    });
    QTest::mouseClick(Get<QPushButton>("btnWrite"), Qt::LeftButton);
    ASSERT_TRUE(watch.Seen());
  }
  EXPECT_EQ(icon, QMessageBox::Critical);
  // The message as it stands, then why in a paragraph of its own, with the device path.
  EXPECT_TRUE(text.startsWith("COM Port Error: Unable to open com port on COM9.\n\n"))
      << text.toStdString();
  EXPECT_TRUE(text.endsWith(": no such device")) << text.toStdString();
  EXPECT_FALSE(app.Terminated());

  // Still running: a read on the listed port works once it is picked again.
  auto* port = Get<QComboBox>("cbPort");
  ASSERT_TRUE(gui_qt_test::PickItem(*port, 0));
  ASSERT_EQ(form->cbPort.ItemIndex(), 0);
  QTest::mouseClick(Get<QPushButton>("btnRead"), Qt::LeftButton);
  EXPECT_EQ(Get<QLabel>("lVer")->text(), "HW ver.: 1.2,  SW ver.: 7");
}

TEST_F(FormWindowTest, ClosingDuringAReadEndsTheLoopAndClosesThePort) {
  AddDevice("COM3");
  devices.front()->SetFault({device::Fault::LateReply, std::chrono::milliseconds(200)});
  Start();
  bool stayedOpen = false;
  bool asked = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (asked || !form->Busy() || !form->ComPort->Connected()) return;
    asked = true;
    view->Widget().close();
    stayedOpen = view->Widget().isVisible();
  });
  closer.start(5);
  // As in the program: the click arrives in the application's main loop, which must end
  // once the abandoned read has closed the port.
  QTimer::singleShot(0, [&] { QTest::mouseClick(Get<QPushButton>("btnRead"), Qt::LeftButton); });
  QTimer::singleShot(std::chrono::seconds(60), [] { QCoreApplication::exit(1); });  // a hang
  EXPECT_EQ(QApplication::exec(), 0);
  closer.stop();

  EXPECT_TRUE(asked);
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(app.Terminated());
  EXPECT_FALSE(form->Busy());
  EXPECT_FALSE(form->ComPort->Connected());
  // The device's own thread logs the close when it next wakes; give it time to.
  const auto closedSeen = [&] {
    const auto frames = devices.front()->Frames();
    return !frames.empty() && frames.back().kind == device::LogKind::PortClosed;
  };
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!closedSeen() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(closedSeen());
}

}  // namespace
