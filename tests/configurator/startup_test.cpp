#include "configurator/form_layout_table.h"
#include "form_test_support.h"

#include "comport/port.h"

namespace configurator::testing {
namespace {

class Startup : public FormTest {};

TEST_F(Startup, ListsExactlyTheOpenablePortsInOrderAndSelectsTheFirst) {
  const auto expected = WithMachinePorts({"COM3", "COM7"});
  auto com7 = winapi::VirtualLine::Create("COM7");
  auto com3 = winapi::VirtualLine::Create("COM3");
  Create();
  EXPECT_EQ(form->cbPort.Items(), expected);
  EXPECT_EQ(form->cbPort.ItemIndex(), 0);
  EXPECT_EQ(form->cbPort.Text(), expected.front());
  // Every probe closed what it opened.
  EXPECT_FALSE(com3->IsOpen());
  EXPECT_FALSE(com7->IsOpen());
  EXPECT_FALSE(form->ComPort->Connected());
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(Startup, APortHeldByAnotherOpenerIsNotListed) {
  const auto expected = WithMachinePorts({"COM3"});
  auto com3 = winapi::VirtualLine::Create("COM3");
  auto com7 = winapi::VirtualLine::Create("COM7");
  comport::TComPort holder(nullptr);
  holder.SetPort("COM7");
  holder.Open();
  Create();
  EXPECT_EQ(form->cbPort.Items(), expected);
  EXPECT_TRUE(holder.Connected());
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(Startup, PortsAfterCom20AreNeverProbed) {
  const auto expected = MachinePorts();
  auto com21 = winapi::VirtualLine::Create("COM21");
  Create();
  EXPECT_EQ(com21->OpenCount(), 0);
  EXPECT_EQ(form->cbPort.Items(), expected);
}

TEST_F(Startup, ListsArePreselectedAndTheTitleIsSet) {
  Create();
  EXPECT_EQ(app.Title(), "PZ-RQ480 PC interface configurator");
  EXPECT_EQ(DeviceLists(),
            (std::vector<std::string>{"31", "19200", "65", "1", "General (Lenz, Roco)"}));
  EXPECT_EQ(form->cbXPAddr.Items().size(), 31u);
  EXPECT_EQ(form->cbS88Addr.Items().size(), 192u);
  EXPECT_EQ(form->cbS88Num.Items().size(), 126u);
  EXPECT_EQ(form->cbS88Num.Items().back(), "126");
  EXPECT_EQ(form->cbBaudRate.Items(),
            (std::vector<std::string>{"19200", "38400", "57600", "115200"}));
  EXPECT_EQ(form->cbSearchBaud.Items(), form->cbBaudRate.Items());
  EXPECT_EQ(form->cbSearchBaud.Text(), "19200");
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_FALSE(form->pWait.Visible());
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Timer1.Interval(), 10);
}

TEST_F(Startup, TheInformationBoxNamesTheProgramAndItsOwnership) {
  Create();
  Click(form->SpeedButton1);
  ASSERT_EQ(app.Messages().size(), 1u);
  const std::string& text = app.Messages()[0];
  const std::string head = "PZ-RQ480, PC interface configurator\r\n\r\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const std::string ownership = text.substr(head.size());
  EXPECT_FALSE(ownership.empty());
  EXPECT_EQ(ownership.find('\n'), std::string::npos);
  EXPECT_EQ(ownership.find('\r'), std::string::npos);
}

// The window as the back ends build it.
TEST_F(Startup, ControlsHaveTheirKindsParentsBoundsAndTabOrder) {
  Create();
  ui::Window& window = form->Window();
  EXPECT_EQ(window.Name(), kFormName);
  EXPECT_EQ(window.Caption(), kFormCaption);
  EXPECT_EQ(window.GetBounds(), kFormBounds);
  EXPECT_EQ(window.FontName(), "MS Sans Serif");
  EXPECT_EQ(window.FontHeight(), -11);

  std::vector<std::string> names;
  window.ForEach([&](ui::Control& control) { names.push_back(control.Name()); });
  EXPECT_EQ(names.size(), std::size(kFormLayout) + 1);  // the window and its controls
  for (const LayoutRow& row : kFormLayout) {
    ui::Control* found = nullptr;
    window.ForEach([&](ui::Control& control) {
      if (control.Name() == row.name) found = &control;
    });
    ASSERT_NE(found, nullptr) << row.name;
    EXPECT_EQ(found->Kind(), row.kind) << row.name;
    ASSERT_NE(found->Parent(), nullptr) << row.name;
    EXPECT_EQ(found->Parent()->Name(), row.parent) << row.name;
    EXPECT_EQ(found->GetBounds(), row.bounds) << row.name;
    EXPECT_EQ(found->TabOrder(), row.tabOrder) << row.name;
    if (row.kind != ui::ControlKind::ComboBox) {
      EXPECT_EQ(found->Caption(), row.caption) << row.name;
    }
  }
  EXPECT_TRUE(form->cbPort.Editable());
  EXPECT_FALSE(form->cbSearchBaud.Editable());
  EXPECT_FALSE(form->SpeedButton1.TakesFocus());
  EXPECT_FALSE(form->pWait.Visible());
}

TEST_F(Startup, DestroyingTheFormClosesAnOpenPort) {
  device::VirtualLineDevice dev("COM3");
  Create();
  SelectPort("COM3");
  form->ComPort->SetPort("COM3");
  form->ComPort->Open();
  ASSERT_TRUE(dev.Line()->IsOpen());
  form.reset();
  EXPECT_FALSE(dev.Line()->IsOpen());
}

}  // namespace
}  // namespace configurator::testing
