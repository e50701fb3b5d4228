#include "form_test_support.h"
#include "winapi/port_description.h"

#include "winapi/virtual_line.h"
#include "winapi/winapi.h"

#include <thread>

namespace configurator::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

device::DeviceState StateWith(std::array<std::uint8_t, 5> settings) {
  device::DeviceState state;
  state.settings = settings;
  return state;
}

class Read : public FormTest {
 protected:
  void SetUp() override {
    Create();
    SelectPort("COM3");
  }
  device::VirtualLineDevice dev{"COM3", StateWith({3, 3, 65, 4, 1})};
};

TEST_F(Read, SendsTheVersionQueryAndFiveSettingReadsAndShowsTheAnswers) {
  Click(form->btnRead);
  EXPECT_EQ(ReceivedFrames(dev), (std::vector<Bytes>{{0xF0, 0xF0},
                                                     {0xF2, 1, 0xFF, 0xF2 ^ 1 ^ 0xFF},
                                                     {0xF2, 2, 0xFF, 0xF2 ^ 2 ^ 0xFF},
                                                     {0xF2, 3, 0xFF, 0xF2 ^ 3 ^ 0xFF},
                                                     {0xF2, 4, 0xFF, 0xF2 ^ 4 ^ 0xFF},
                                                     {0xF2, 5, 0xFF, 0xF2 ^ 5 ^ 0xFF}}));
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(DeviceLists(), (std::vector<std::string>{"3", "57600", "65", "4", "Tran ZF5"}));
  // The port is closed again and the window usable.
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_FALSE(form->pWait.Visible());
  EXPECT_TRUE(form->btnRead.Enabled());
  EXPECT_TRUE(form->btnWrite.Enabled());
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(Read, ReplyValuesMapToListItemsOrToNoSelection) {
  struct Case {
    std::array<std::uint8_t, 5> stored;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {{31, 0, 192, 126, 0}, {"31", "19200", "192", "126", "General (Lenz, Roco)"}},
      {{0, 5, 193, 0, 2}, {"", "", "", "", ""}},
      {{32, 4, 1, 127, 255}, {"", "115200", "1", "", ""}},
  };
  for (const Case& c : cases) {
    dev.SetState(StateWith(c.stored));
    Click(form->btnRead);
    EXPECT_EQ(DeviceLists(), c.shown);
  }
}

TEST_F(Read, VersionCaptionShowsBothNibblesAndTheSoftwareNumber) {
  device::DeviceState state = dev.State();
  state.hardwareVersion = 0x2F;
  state.softwareVersion = 201;
  dev.SetState(state);
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 2.15,  SW ver.: 201");
}

// Emptied lists and "..." alone leave the user guessing; silence is not among these, it
// starts the rate search.
TEST_F(Read, ALineThatGaveNoValuesIsExplainedOnce) {
  struct Case {
    device::Fault fault;
    const char* reason;
  };
  const Case cases[] = {
      {device::Fault::BadChecksum, "bad checksum"},
      {device::Fault::Echo, "the line echoes what is sent: a loopback or no device"},
      {device::Fault::Chatter,
       "no reply: the line does not fall silent (noise or another sender on it)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    dev.SetFault({c.fault});
    app.ClearDialogs();
    Click(form->btnRead);
    EXPECT_EQ(form->lVer.Caption(), "...");
    EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
    EXPECT_EQ(app.Messages(),
              std::vector<std::string>{
                  std::string("Nothing could be read from COM3 at 19200 baud: ") + c.reason +
                  ". Check the port, the cable and Port baud, then read again."});
    EXPECT_FALSE(form->LastSearch.ran);
  }
}

// A bare line whose answers the test writes itself.
class ReadFromALine : public FormTest {
 protected:
  void SetUp() override {
    Create();
    SelectPort("COM4");
  }
  std::shared_ptr<winapi::VirtualLine> line = winapi::VirtualLine::Create("COM4");
};

// Two bytes that XOR to zero pass the frame check; without the length rule the value shown
// is entry 2 of the version reply, still in the buffer.
TEST_F(ReadFromALine, FramesTooShortForAValueAreNotTakenForOne) {
  std::thread answerer([&] {
    if (line->ReadSent(2, kLimit).size() != 2) return;
    line->Inject({0x02, 0x12, 0x07, 0x17});
    for (int request = 0; request < 5; ++request) {
      if (line->ReadSent(4, kLimit).size() != 4) return;
      line->Inject({0xAA, 0xAA});
    }
  });
  Click(form->btnRead);
  answerer.join();
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  for (const ReplyResult& result : form->LastRead.settings) {
    EXPECT_EQ(result.status, ReplyStatus::ShortFrame);
  }
}

// Without the fresh-reply rule, a silent device shows version 0.0, "19200" and "General".
TEST_F(Read, ASilentDeviceOnTheFirstReadShowsNothing) {
  dev.SetFault({device::Fault::Silent});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(form->LastRead.version.status, ReplyStatus::NoReply);
  for (const ReplyResult& result : form->LastRead.settings) {
    EXPECT_EQ(result.status, ReplyStatus::NoReply);
  }
}

// Without it, the last frame of the good read is used again for every request.
TEST_F(Read, ADeviceThatFallsSilentDoesNotRepeatTheLastReply) {
  Click(form->btnRead);
  ASSERT_EQ(form->cbCommStat.Text(), "Tran ZF5");
  dev.SetFault({device::Fault::Silent});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
}

TEST_F(Read, AReplySplitInBurstsCloseTogetherIsOneFrame) {
  dev.SetFault({device::Fault::SplitReply, 20ms});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(DeviceLists(), (std::vector<std::string>{"3", "57600", "65", "4", "Tran ZF5"}));
}

// No reply is longer than the buffer; its first eleven bytes XOR to zero all the same.
TEST_F(Read, AFrameLongerThanTheBufferIsNoReply) {
  dev.SetFault({device::Fault::LongReply, 100ms, 16});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(form->LastRead.version.status, ReplyStatus::LongFrame);
  for (const ReplyResult& result : form->LastRead.settings) {
    EXPECT_EQ(result.status, ReplyStatus::LongFrame);
  }
}

// Without the limit the first wait never ends: a byte comes every 40 ms.
TEST_F(Read, ALineThatNeverFallsSilentEndsEachWaitAtTheLimit) {
  dev.SetFault({device::Fault::Chatter});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(form->LastRead.version.status, ReplyStatus::NoSilence);
  for (const ReplyResult& result : form->LastRead.settings) {
    EXPECT_EQ(result.status, ReplyStatus::NoSilence);
  }
  // Every request still went out, and the port is closed.
  EXPECT_EQ(ReceivedFrames(dev).size(), 6u);
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_TRUE(form->btnRead.Enabled());
}

// Without the echo rule each setting shows its request's FF: "the device holds 255".
TEST_F(Read, AnEchoingLineGivesNoValue) {
  dev.SetFault({device::Fault::Echo});
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(form->LastRead.version.status, ReplyStatus::Echo);
  for (const ReplyResult& result : form->LastRead.settings) {
    EXPECT_EQ(result.status, ReplyStatus::Echo);
  }
}

TEST_F(Read, WithNoPortSelectedOnlyTheListsAreCleared) {
  form->cbPort.SetItemIndex(-1);
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(dev.Line()->OpenCount(), 1);  // the start-up probe only
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_TRUE(app.Messages().empty());
}

TEST_F(Read, TheSearchRateDecidesWhetherTheDeviceHears) {
  form->SearchOnSilence = false;
  form->cbSearchBaud.SetItemIndex(1);
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(form->ComPort->BaudRate(), comport::br38400);
  form->cbSearchBaud.SetItemIndex(0);
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
}

// Without the search a read at the wrong rate leaves "..." and five empty lists, no word.
TEST_F(Read, AtTheWrongRateTheDeviceIsFoundAtItsOwnAndReadThere) {
  device::DeviceState state = dev.State();
  state.baudRate = 57600;
  dev.SetState(state);
  Click(form->btnRead);
  EXPECT_EQ(form->cbSearchBaud.Text(), "57600");
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
  EXPECT_EQ(DeviceLists(), (std::vector<std::string>{"3", "57600", "65", "4", "Tran ZF5"}));
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{
                "The device answers at 57600 baud, not at 19200; Port baud now shows it."});
  EXPECT_EQ(form->LastSearch.answeredAt, 2);
  EXPECT_FALSE(dev.Line()->IsOpen());
}

TEST_F(Read, WhenNoRateAnswersOneMessageSaysSo) {
  dev.SetFault({device::Fault::Silent});
  Click(form->btnRead);
  EXPECT_EQ(app.Messages(),
            std::vector<std::string>{"No device answered on COM3 at 19200, 38400, 57600 or 115200 "
                                     "baud. Check the port, the cable and the device's power."});
  EXPECT_EQ(form->cbSearchBaud.Text(), "19200");
  // Six requests at 19200, then one version query at each other rate.
  EXPECT_EQ(ReceivedFrames(dev).size(), 9u);
}

// An error leaving the receive handler goes back to the port's event thread, which ends:
// no message, no further deliveries, and the read runs on to its end without replies.
TEST_F(Read, AnErrorInTheReceiveHandlerEndsDeliveriesSilently) {
  form->SearchOnSilence = false;
  int received = 0;
  form->OnTrace = [&](bool sent, std::uint8_t) {
    if (sent) return;
    ++received;
    throw comport::EComPortExt("COM3", 3, ERROR_GEN_FAILURE);
  };
  Click(form->btnRead);
  EXPECT_EQ(received, 1);
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_TRUE(app.Messages().empty());
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(ReceivedFrames(dev).size(), 6u);
  EXPECT_FALSE(dev.Line()->IsOpen());
  EXPECT_TRUE(form->btnRead.Enabled());

  // Opening again brings deliveries back.
  form->OnTrace = nullptr;
  Click(form->btnRead);
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
}

// A read the driver refuses returns no byte; its 0xFF placeholder must not become data
// (four of them would even pass the checksum and show version 15.15).
TEST_F(Read, RefusedReadsStoreNoBytes) {
  dev.Line()->FailCall(winapi::DriverCall::ReadFile, ERROR_GEN_FAILURE);
  Click(form->btnRead);
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_EQ(form->lVer.Caption(), "...");
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_EQ(form->LastRead.version.status, ReplyStatus::NoReply);
  EXPECT_FALSE(dev.Line()->IsOpen());
}

// Without the mend the port stays open on the dead handle, and every later read fails
// again even after the adapter is back.
TEST_F(Read, APortThatFailsDuringAReadIsClosedAndTheNextReadOpensItAfresh) {
  form->OnTrace = [&](bool sent, std::uint8_t) {
    if (sent) dev.Line()->Disconnect();
  };
  Click(form->btnRead);
  form->OnTrace = nullptr;
  // The message alone reads like a fault of this program; the reason says what happened.
  EXPECT_EQ(app.Errors(),
            std::vector<std::string>{
                "COM Port Error: WriteFile function failed on COM3.\r\n\r\nThe device is gone: it "
                "was unplugged, or the program behind the line ended. Plug it in again (or start "
                "that program again), then try again."});
  EXPECT_FALSE(form->ComPort->Connected());
  EXPECT_TRUE(form->btnRead.Enabled());
  EXPECT_FALSE(form->pWait.Visible());
  dev.Line()->Reconnect();
  app.ClearDialogs();
  Click(form->btnRead);
  EXPECT_TRUE(app.Errors().empty());
  EXPECT_EQ(form->lVer.Caption(), "HW ver.: 1.2,  SW ver.: 7");
}

TEST_F(Read, APortThatCannotBeOpenedIsReportedWithAFullStopAndWhy) {
  SelectPort("COM5");
  Click(form->btnRead);
  EXPECT_EQ(app.Errors(),
            std::vector<std::string>{"COM Port Error: Unable to open com port on COM5.\r\n\r\n" +
                                     winapi::OpenFailureReason("COM5", ERROR_FILE_NOT_FOUND)});
  EXPECT_EQ(DeviceLists(), std::vector<std::string>(5, ""));
  EXPECT_TRUE(form->btnRead.Enabled());
  EXPECT_FALSE(form->pWait.Visible());
}

// The error's message stays as it is; the reason is a paragraph of its own.
TEST_F(Read, APortInUseSaysSoBelowTheMessage) {
  dev.Line()->FailCall(winapi::DriverCall::CreateFile, ERROR_ACCESS_DENIED, 1);
  Click(form->btnRead);
#ifdef _WIN32
  const std::string reason = "in use by another program";
#else
  const std::string reason = "virtual line COM3: in use by another program";
#endif
  EXPECT_EQ(app.Errors(), std::vector<std::string>{
                              "COM Port Error: Unable to open com port on COM3.\r\n\r\n" + reason});
}

}  // namespace
}  // namespace configurator::testing
