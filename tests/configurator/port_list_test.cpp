// The port list probed again after ports came or went: what it keeps, and when it waits.
#include "form_test_support.h"

namespace configurator::testing {
namespace {

using Names = std::vector<std::string>;

class PortList : public FormTest {
 protected:
  bool Lists(const std::string& name) const {
    const auto& items = form->cbPort.Items();
    return std::find(items.begin(), items.end(), name) != items.end();
  }
  std::shared_ptr<winapi::VirtualLine> com3 = winapi::VirtualLine::Create("COM3");
  std::shared_ptr<winapi::VirtualLine> com5 = winapi::VirtualLine::Create("COM5");
  std::shared_ptr<winapi::VirtualLine> com7;
};

TEST_F(PortList, ANewPortIsListedAndTheSelectionKept) {
  Create();
  ASSERT_EQ(form->cbPort.Items(), WithMachinePorts({"COM3", "COM5"}));
  SelectPort("COM5");
  com7 = winapi::VirtualLine::Create("COM7");
  form->PortsChanged();
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM7"); }, kLimit));
  EXPECT_EQ(form->cbPort.Items(), WithMachinePorts({"COM3", "COM5", "COM7"}));
  EXPECT_EQ(form->cbPort.Text(), "COM5");
  EXPECT_EQ(form->cbPort.Items()[static_cast<std::size_t>(form->cbPort.ItemIndex())], "COM5");
  EXPECT_FALSE(com7->IsOpen());
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(PortList, TypedTextIsKept) {
  Create();
  form->cbPort.SetText("COM25");
  com7 = winapi::VirtualLine::Create("COM7");
  form->PortsChanged();
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM7"); }, kLimit));
  EXPECT_EQ(form->cbPort.Text(), "COM25");
  EXPECT_EQ(form->cbPort.ItemIndex(), -1);
}

TEST_F(PortList, ASelectedPortThatWentAwayGivesWayToTheFirst) {
  Create();
  SelectPort("COM5");
  com5.reset();
  form->PortsChanged();
  ASSERT_TRUE(app.RunUntil([&] { return !Lists("COM5"); }, kLimit));
  EXPECT_EQ(form->cbPort.Items(), WithMachinePorts({"COM3"}));
  EXPECT_EQ(form->cbPort.ItemIndex(), 0);
}

// Without the deferral, the probe opens ports in the middle of the write (which lasts
// longer than the probe's delay) and the list changes under it.
TEST_F(PortList, NoProbeWhileAnOperationRunsTheListFollowsOnceItEnds) {
  com3.reset();
  device::VirtualLineDevice dev("COM3");
  Create();
  SelectPort("COM3");
  bool changedDuring = false;
  bool told = false;
  SideTimer side(app, [&] {
    if (!form->Busy()) return;
    if (!told) {
      told = true;
      com7 = winapi::VirtualLine::Create("COM7");
      form->PortsChanged();
    }
    changedDuring |= Lists("COM7") || (com7 && com7->OpenCount() > 0);
  });
  Click(form->btnWrite);
  ASSERT_TRUE(told);
  EXPECT_EQ(ReceivedFrames(dev).size(), 12u);  // version query, five writes, read-back
  EXPECT_EQ(form->LastRead.settings[4].status, ReplyStatus::Good);
  EXPECT_FALSE(changedDuring);
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM7"); }, kLimit));
  EXPECT_EQ(form->cbPort.Text(), "COM3");
}

// A port this window holds open is not probed, and stays listed and open.
TEST_F(PortList, APortTheWindowHoldsOpenStaysListed) {
  Create();
  SelectPort("COM3");
  form->ComPort->SetPort("COM3");
  form->ComPort->Open();
  ASSERT_TRUE(com3->IsOpen());
  com7 = winapi::VirtualLine::Create("COM7");
  form->PortsChanged();
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM7"); }, kLimit));
  EXPECT_TRUE(Lists("COM3"));
  EXPECT_EQ(form->cbPort.Text(), "COM3");
  EXPECT_TRUE(form->ComPort->Connected());
  EXPECT_TRUE(com3->IsOpen());
}

}  // namespace
}  // namespace configurator::testing
