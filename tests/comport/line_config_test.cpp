#include "comport/port.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <optional>

namespace comport {
namespace {

using testing::CallsOf;
using testing::FlagWord;
using testing::LineForThisTest;
using winapi::DriverCall;
using winapi::DriverRecord;

class LineConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    line = LineForThisTest();
    port.SetPort(line->Name());
  }

  // The last DCB the port handed the driver.
  DCB LastDcb() const {
    std::optional<DCB> dcb;
    for (const DriverRecord& r : line->Records()) {
      if (r.call == DriverCall::SetCommState) dcb = r.dcb;
    }
    EXPECT_TRUE(dcb.has_value());
    return dcb.value_or(DCB{});
  }

  std::shared_ptr<winapi::VirtualLine> line;
  TComPort port{nullptr};
};

TEST_F(LineConfig, OpenHandsOverSizesThenDcbThenTimeouts) {
  port.Open();
  const auto records = line->Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0].call, DriverCall::SetupComm);
  EXPECT_EQ(records[0].inQueue, 1024u);
  EXPECT_EQ(records[0].outQueue, 1024u);
  EXPECT_EQ(records[1].call, DriverCall::SetCommState);
  EXPECT_EQ(records[2].call, DriverCall::SetCommTimeouts);
  const COMMTIMEOUTS& t = records[2].timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(LineConfig, DefaultDcb) {
  port.Open();
  const DCB dcb = LastDcb();
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(FlagWord(dcb), 0x00000001u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
}

TEST_F(LineConfig, FlowControlPresetsGiveTheirFlagWords) {
  port.Open();
  port.FlowControl().SetFlowControl(fcHardware);
  EXPECT_EQ(FlagWord(LastDcb()), 0x00002005u);
  port.FlowControl().SetFlowControl(fcSoftware);
  EXPECT_EQ(FlagWord(LastDcb()), 0x00000301u);
  port.FlowControl().SetFlowControl(fcNone);
  EXPECT_EQ(FlagWord(LastDcb()), 0x00000001u);
}

TEST_F(LineConfig, EveryFlagHasItsBit) {
  port.Open();
  auto& flow = port.FlowControl();
  flow.SetOutDSRFlow(true);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0009u);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrEnable);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0011u);
  flow.SetControlDTR(dtrHandshake);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0021u);
  flow.SetControlDTR(dtrDisable);
  flow.SetDSRSensitivity(true);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0041u);
  flow.SetDSRSensitivity(false);
  flow.SetTxContinueOnXoff(true);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0081u);
  flow.SetTxContinueOnXoff(false);
  port.SetDiscardNull(true);
  EXPECT_EQ(FlagWord(LastDcb()), 0x0801u);
  port.SetDiscardNull(false);
  flow.SetControlRTS(rtsEnable);
  EXPECT_EQ(FlagWord(LastDcb()), 0x1001u);
  flow.SetControlRTS(rtsToggle);
  EXPECT_EQ(FlagWord(LastDcb()), 0x3001u);
}

TEST_F(LineConfig, BaudRates) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  port.Open();
  EXPECT_EQ(LastDcb().BaudRate, 31250u);
  port.SetBaudRate(br256000);
  EXPECT_EQ(LastDcb().BaudRate, 256000u);
  port.SetBaudRate(br110);
  EXPECT_EQ(LastDcb().BaudRate, 110u);
  port.SetBaudRate(br14400);
  EXPECT_EQ(LastDcb().BaudRate, 14400u);
  port.SetBaudRate(br128000);
  EXPECT_EQ(LastDcb().BaudRate, 128000u);
}

TEST_F(LineConfig, DataStopAndParityBits) {
  port.Open();
  port.SetDataBits(dbFive);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prSpace);
  DCB dcb = LastDcb();
  EXPECT_EQ(dcb.ByteSize, 5);
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
  EXPECT_EQ(dcb.Parity, SPACEPARITY);
  port.SetStopBits(sbOneStopBit);  // 1.5 stop bits go with five data bits only
  port.SetDataBits(dbSix);
  port.SetStopBits(sbTwoStopBits);
  port.Parity().SetBits(prMark);
  dcb = LastDcb();
  EXPECT_EQ(dcb.ByteSize, 6);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.Parity, MARKPARITY);
}

TEST_F(LineConfig, ReplaceCharOnlyWithParityCheck) {
  port.Open();
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar(0x3F);
  DCB dcb = LastDcb();
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.ErrorChar, 0);
  port.Parity().SetCheck(true);
  dcb = LastDcb();
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(dcb.fErrorChar, 1u);
  EXPECT_EQ(dcb.ErrorChar, 0x3F);
  EXPECT_EQ(FlagWord(dcb), 0x0403u);
}

TEST_F(LineConfig, InputSizeSetsTheLimitsOnlyAtTheNextLineApply) {
  port.Open();
  line->ClearRecords();
  port.Buffer().SetInputSize(4096);
  EXPECT_EQ(CallsOf(line->Records()), testing::Calls{DriverCall::SetupComm});
  port.SetEventChar('!');
  const DCB dcb = LastDcb();
  EXPECT_EQ(dcb.XonLim, 1024);
  EXPECT_EQ(dcb.XoffLim, 1024);
}

// The driver may refuse such sizes; what matters here is what it was handed.
TEST_F(LineConfig, LimitsAreAQuarterCutToSixteenBits) {
  port.Open();
  try {
    port.Buffer().SetInputSize(-400);
  } catch (const EComPortExt&) {
  }
  try {
    port.SetBaudRate(br1200);
  } catch (const EComPortExt&) {
  }
  EXPECT_EQ(LastDcb().XonLim, static_cast<WORD>(-100));
  try {
    port.Buffer().SetInputSize(0x80004);  // a quarter is 0x20001
  } catch (const EComPortExt&) {
  }
  try {
    port.SetBaudRate(br2400);
  } catch (const EComPortExt&) {
  }
  EXPECT_EQ(LastDcb().XoffLim, 1);
}

TEST_F(LineConfig, NegativeTimeoutsGoOverBitForBit) {
  port.Timeouts().SetWriteTotalConstant(-2);
  port.Open();
  const auto records = line->Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[2].timeouts.WriteTotalTimeoutConstant, 0xFFFFFFFEu);
}

}  // namespace
}  // namespace comport
