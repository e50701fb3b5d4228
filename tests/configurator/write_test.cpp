#include "form_test_support.h"

namespace configurator::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes WriteRequest(std::uint8_t n, std::uint8_t value) {
  return {0xF2, n, value, static_cast<std::uint8_t>(0xF2 ^ n ^ value)};
}

class Write : public FormTest {
 protected:
  void SetUp() override {
    Create();
    SelectPort("COM3");
  }
  device::VirtualLineDevice dev{"COM3"};
};

TEST_F(Write, SendsTheFiveSettingsThenReadsThemBack) {
  form->cbXPAddr.SetText("3");
  Click(form->btnWrite);
  const auto frames = ReceivedFrames(dev);
  ASSERT_EQ(frames.size(), 12u);
  EXPECT_EQ(frames[0], (Bytes{0xF0, 0xF0}));  // the device must answer first
  EXPECT_EQ(frames[1], (Bytes{0xF2, 0x01, 0x03, 0xF0}));
  EXPECT_EQ(frames[2], WriteRequest(3, 65));
  EXPECT_EQ(frames[3], WriteRequest(4, 1));
  EXPECT_EQ(frames[4], WriteRequest(5, 0));
  EXPECT_EQ(frames[5], WriteRequest(2, 1));   // the rate last
  EXPECT_EQ(frames[6], (Bytes{0xF0, 0xF0}));  // the read-back
  EXPECT_EQ(dev.State().settings, (std::array<std::uint8_t, 5>{3, 1, 65, 1, 0}));
  EXPECT_EQ(DeviceLists(),
            (std::vector<std::string>{"3", "19200", "65", "1", "General (Lenz, Roco)"}));
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_TRUE(form->btnWrite.Enabled());
  EXPECT_TRUE(form->btnRead.Enabled());
  EXPECT_FALSE(form->pWait.Visible());
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_TRUE(app.Messages().empty());
  EXPECT_TRUE(form->LastWrite.differences.empty());
}

// The device changes its rate as soon as it stores a new one; sent earlier, the rate would
// leave the settings after it unheard (and lost).
TEST_F(Write, ANewDeviceRateMovesTheSearchRateAndTheReadBackFollowsIt) {
  form->cbBaudRate.SetText("57600");
  form->cbCommStat.SetText("Tran ZF5");
  Click(form->btnWrite);
  const auto frames = ReceivedFrames(dev);
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames[5], WriteRequest(2, 3));
  EXPECT_EQ(form->cbSearchBaud.Text(), "57600");
  EXPECT_EQ(dev.State().baudRate, 57600u);
  // The device answered the read-back at its new rate.
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(DeviceLists(), (std::vector<std::string>{"31", "57600", "65", "1", "Tran ZF5"}));
  const auto records = dev.Frames();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().lineRate, 57600u);
}

// Left open, the port would keep other programs (and a network server's other clients)
// off the line until the next read.
TEST_F(Write, AnEmptyListStopsItAndClosesThePortItOpened) {
  form->cbS88Num.SetItemIndex(-1);
  const int opens = dev.Line()->OpenCount();
  Click(form->btnWrite);
  EXPECT_EQ(app.Messages(), std::vector<std::string>{"Please fill all fields!"});
  EXPECT_TRUE(ReceivedFrames(dev).empty());
  EXPECT_EQ(dev.Line()->OpenCount(), opens + 1);
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_TRUE(form->btnWrite.Enabled());
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_FALSE(dev.Line()->IsOpen());
}

TEST_F(Write, APortThatDoesNotStayOpenGivesNotConnected) {
  // The last report of opening closes the port again.
  bool closing = true;
  form->ComPort->OnRLSDChange = [&](comport::TObject*, bool) {
    if (!closing) return;
    closing = false;
    form->ComPort->Close();
  };
  Click(form->btnWrite);
  form->ComPort->OnRLSDChange = nullptr;
  EXPECT_EQ(app.Errors(), std::vector<std::string>{});
  EXPECT_EQ(app.Messages(), std::vector<std::string>{"Not connected!"});
  EXPECT_TRUE(ReceivedFrames(dev).empty());
  EXPECT_TRUE(form->btnWrite.Enabled());
}

TEST_F(Write, UsesTheTypedPortNameWhichReadIgnores) {
  device::VirtualLineDevice com7{"COM7"};
  form->cbPort.SetText("COM7");
  ASSERT_EQ(form->cbPort.ItemIndex(), -1);
  form->cbXPAddr.SetText("12");
  Click(form->btnWrite);
  EXPECT_EQ(com7.State().Get(device::Setting::XpressNetAddress), 12);
  EXPECT_TRUE(ReceivedFrames(dev).empty());
  // The read-back reads the port the write used, so its check runs.
  EXPECT_EQ(DeviceLists(),
            (std::vector<std::string>{"12", "19200", "65", "1", "General (Lenz, Roco)"}));
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_TRUE(app.Messages().empty());
  // A click on "Read settings" still ignores the typed name.
  const int opens = com7.Line()->OpenCount();
  Click(form->btnRead);
  EXPECT_EQ(com7.Line()->OpenCount(), opens);
}

TEST_F(Write, APortThatCannotBeOpenedIsReportedAndTheListsStay) {
  form->cbPort.SetText("COM5");
  Click(form->btnWrite);
  ASSERT_EQ(app.Errors().size(), 1u);
  EXPECT_EQ(app.Errors()[0].rfind("COM Port Error: Unable to open com port on COM5.\r\n\r\n", 0),
            0u);
  EXPECT_EQ(DeviceLists(),
            (std::vector<std::string>{"31", "19200", "65", "1", "General (Lenz, Roco)"}));
  EXPECT_TRUE(form->btnWrite.Enabled());
}

// Without the check, the five frames go out at a rate the device does not hear, and the
// read-back shows the old values as if nothing had been tried.
TEST_F(Write, AtARateTheDeviceDoesNotHearNothingIsWrittenAndItsRateIsNamed) {
  device::DeviceState state = dev.State();
  state.baudRate = 38400;
  state.Set(device::Setting::BaudRateCode, 2);
  dev.SetState(state);
  form->cbXPAddr.SetText("9");
  Click(form->btnWrite);
  EXPECT_EQ(dev.State(), state);
  for (const auto& frame : ReceivedFrames(dev)) EXPECT_NE(frame.size(), 4u);
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{
                "No reply from the device on COM3 at 19200 baud; nothing was written. The device "
                "answers at 38400 baud; Port baud now shows it. Read the settings, change what you "
                "want, then write."});
  EXPECT_EQ(form->cbSearchBaud.Text(), "38400");
  EXPECT_FALSE(form->LastWrite.started);
  EXPECT_FALSE(dev.Line()->IsOpen());
  // As told: read at the rate found, change, write; the device keeps its own settings.
  app.ClearDialogs();
  Click(form->btnRead);
  form->cbXPAddr.SetText("9");
  Click(form->btnWrite);
  state.Set(device::Setting::XpressNetAddress, 9);
  EXPECT_EQ(dev.State().settings, state.settings);
  EXPECT_TRUE(app.Messages().empty());
}

TEST_F(Write, NoDeviceAtAnyRateIsSaid) {
  dev.SetFault({device::Fault::Silent});
  Click(form->btnWrite);
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{"No reply from the device on COM3 at 19200 baud; nothing was "
                                     "written. No device answered at 19200, 38400, 57600 or 115200 "
                                     "baud either."});
  EXPECT_EQ(form->cbSearchBaud.Text(), "19200");
}

// Without the comparison a setting the device did not take goes unremarked.
TEST_F(Write, EverySettingTheReadBackDoesNotConfirmIsNamed) {
  dev.SetObserver([this](const device::FrameRecord& record) {
    if (record.kind == device::LogKind::Received &&
        record.request == device::RequestKind::WriteSetting && record.bytes[1] == 2) {
      device::DeviceState state = dev.State();
      state.Set(device::Setting::XpressNetAddress, 12);
      dev.SetState(state);
      dev.SetFault({device::Fault::SplitReply, std::chrono::milliseconds(0)});
    }
  });
  form->cbXPAddr.SetText("9");
  Click(form->btnWrite);
  dev.SetObserver(nullptr);
  EXPECT_EQ(form->LastWrite.differences,
            std::vector<std::string>{"XpressNet address: 9 written, the device reports 12"});
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{"The device does not report what was written:\nXpressNet "
                                     "address: 9 written, the device reports 12"});
}

// Without the report the user sees only "WriteFile function failed", though the device
// already holds some of the new settings.
TEST_F(Write, AWriteCutOffByAnErrorSaysWhatReachedTheDevice) {
  dev.SetFault({device::Fault::StopAfter, std::chrono::milliseconds(100), 16, 2});
  form->cbXPAddr.SetText("9");
  form->cbS88Addr.SetText("70");
  Click(form->btnWrite);
  ASSERT_EQ(app.Errors().size(), 1u);
  EXPECT_NE(app.Errors()[0].find("WriteFile"), std::string::npos) << app.Errors()[0];
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{
                "The write stopped at an error. Sent to the device before it: XpressNet address "
                "(9), S88 start address (70). Not written: Baud rate, S88 module count, Command "
                "station."});
  EXPECT_TRUE(form->LastWrite.stoppedByError);
  EXPECT_EQ(dev.State().Get(device::Setting::XpressNetAddress), 9);
  EXPECT_EQ(dev.State().Get(device::Setting::S88Start), 70);
  // The failed port is closed, so the next click opens it afresh.
  EXPECT_FALSE(form->ComPort->Connected());
  EXPECT_TRUE(form->btnWrite.Enabled());
}

TEST_F(Write, AValueTheDeviceRefusesShowsInTheReadBack) {
  device::DeviceState state = dev.State();
  state.Set(device::Setting::S88Start, 10);
  dev.SetState(state);
  form->cbS88Addr.SetText("192");
  form->cbS88Num.SetText("126");
  Click(form->btnWrite);
  // Whatever the device kept is what the window shows afterwards.
  const auto kept = dev.State();
  EXPECT_EQ(form->cbS88Addr.Text(), std::to_string(kept.Get(device::Setting::S88Start)));
  EXPECT_EQ(form->cbS88Num.Text(), std::to_string(kept.Get(device::Setting::S88Modules)));
}

}  // namespace
}  // namespace configurator::testing
