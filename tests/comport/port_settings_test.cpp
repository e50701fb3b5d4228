#include "comport/port.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

namespace comport {
namespace {

using testing::CallsOf;
using testing::LineForThisTest;
using winapi::DriverCall;

TEST(PortDefaults, NewPortHasTheDocumentedSettings) {
  TComPort port(nullptr);
  EXPECT_EQ(port.ClassName(), "TComPort");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), AllComEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(port.HasMonitor());
  EXPECT_EQ(port.EventWindow(), nullptr);
  EXPECT_TRUE(port.AnnounceRxCount());
  EXPECT_FALSE(port.BufferObserverPresent());
  EXPECT_TRUE(port.Observers().empty());
  EXPECT_EQ(port.StoredGroups(), TSettingGroups{sgConnection});
  EXPECT_FALSE(port.OnRxChar);
  EXPECT_FALSE(port.OnAfterOpen);
}

TEST(PortDefaults, SettingsObjectsPointBackAndKeepTheirIdentity) {
  TComPort port(nullptr);
  EXPECT_EQ(port.Parity().ComPort(), &port);
  EXPECT_EQ(port.FlowControl().ComPort(), &port);
  EXPECT_EQ(port.Timeouts().ComPort(), &port);
  EXPECT_EQ(port.Buffer().ComPort(), &port);

  TComTimeouts other;
  other.SetReadInterval(7);
  TComTimeouts* own = &port.Timeouts();
  port.SetTimeouts(other);
  EXPECT_EQ(&port.Timeouts(), own);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 7);
  EXPECT_EQ(port.Timeouts().ComPort(), &port);
  EXPECT_EQ(other.ComPort(), nullptr);
}

TEST(PortDefaults, OwnerFreesThePort) {
  int closes = 0;
  {
    TComPort owner(nullptr);
    auto* port = new TComPort(&owner);
    port->OnAfterClose = [&](TObject*) { ++closes; };
    EXPECT_EQ(port->Owner(), &owner);
  }
  EXPECT_EQ(closes, 0);  // never opened, so nothing to close
}

TEST(ClosedPortSetters, StoreWithoutTouchingTheDevice) {
  auto line = LineForThisTest();
  TComPort port(nullptr);
  port.SetPort(line->Name());
  port.Open();
  port.Close();
  line->ClearRecords();

  port.SetBaudRate(br19200);
  port.SetCustomBaudRate(31250);
  port.SetDataBits(dbSeven);
  port.SetStopBits(sbTwoStopBits);
  port.SetDiscardNull(true);
  port.SetEventChar('\n');
  port.SetEvents({evRxChar});
  port.SetSyncMethod(smNone);
  port.Parity().SetBits(prEven);
  port.FlowControl().SetFlowControl(fcHardware);
  port.Timeouts().SetWriteTotalConstant(50);
  port.Buffer().SetInputSize(2048);
  TComBuffer sizes;
  sizes.SetOutputSize(512);
  port.SetBuffer(sizes);
  EXPECT_TRUE(line->Records().empty());
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(port.Buffer().OutputSize(), 512);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);  // copied over with the rest

  port.Open();  // everything stored reaches the device now
  const auto records = line->Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0].call, DriverCall::SetupComm);
  EXPECT_EQ(records[0].outQueue, 512u);
  EXPECT_EQ(records[1].call, DriverCall::SetCommState);
  EXPECT_EQ(records[1].dcb.BaudRate, 19200u);
  EXPECT_EQ(records[1].dcb.ByteSize, 7);
  EXPECT_EQ(records[1].dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(records[1].dcb.Parity, EVENPARITY);
  EXPECT_EQ(records[1].dcb.EvtChar, '\n');
  EXPECT_EQ(records[1].dcb.fNull, 1u);
  EXPECT_EQ(records[1].dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(records[2].call, DriverCall::SetCommTimeouts);
  EXPECT_EQ(records[2].timeouts.WriteTotalTimeoutConstant, 50u);
}

// One setter each on an open port: exactly the call of its group, or nothing when
// the value is unchanged.
TEST(OpenPortSetters, ApplyTheirGroupAtOnce) {
  auto line = LineForThisTest();
  TComPort port(nullptr);
  port.SetPort(line->Name());
  port.Open();

  struct Case {
    const char* what;
    std::function<void()> change;
    std::vector<DriverCall> expected;
  };
  const std::vector<DriverCall> line_state = {DriverCall::SetCommState};
  const std::vector<DriverCall> timeouts = {DriverCall::SetCommTimeouts};
  const std::vector<DriverCall> sizes = {DriverCall::SetupComm};
  const std::vector<DriverCall> none = {};
  const std::vector<Case> cases = {
      {"BaudRate", [&] { port.SetBaudRate(br57600); }, line_state},
      {"BaudRate unchanged", [&] { port.SetBaudRate(br57600); }, none},
      {"CustomBaudRate", [&] { port.SetCustomBaudRate(300); }, line_state},
      {"DataBits", [&] { port.SetDataBits(dbFive); }, line_state},
      {"DataBits unchanged", [&] { port.SetDataBits(dbFive); }, none},
      {"StopBits", [&] { port.SetStopBits(sbOne5StopBits); }, line_state},
      {"DiscardNull", [&] { port.SetDiscardNull(true); }, line_state},
      {"EventChar", [&] { port.SetEventChar('x'); }, line_state},
      {"EventChar unchanged", [&] { port.SetEventChar('x'); }, none},
      {"Events", [&] { port.SetEvents({}); }, none},
      {"SyncMethod unchanged", [&] { port.SetSyncMethod(smThreadSync); }, none},
      {"Parity.Check", [&] { port.Parity().SetCheck(true); }, line_state},
      {"Parity.Check unchanged", [&] { port.Parity().SetCheck(true); }, none},
      {"Parity.ReplaceChar", [&] { port.Parity().SetReplaceChar('?'); }, line_state},
      {"FlowControl.XonChar", [&] { port.FlowControl().SetXonChar(1); }, line_state},
      {"FlowControl.ControlDTR", [&] { port.FlowControl().SetControlDTR(dtrEnable); }, line_state},
      {"FlowControl fcCustom", [&] { port.FlowControl().SetFlowControl(fcCustom); }, line_state},
      {"Timeouts.ReadInterval", [&] { port.Timeouts().SetReadInterval(5); }, timeouts},
      {"Timeouts.ReadInterval unchanged", [&] { port.Timeouts().SetReadInterval(5); }, none},
      {"Timeouts.WriteTotalMultiplier", [&] { port.Timeouts().SetWriteTotalMultiplier(1); },
       timeouts},
      {"Buffer.InputSize", [&] { port.Buffer().SetInputSize(4096); }, sizes},
      {"Buffer.InputSize unchanged", [&] { port.Buffer().SetInputSize(4096); }, none},
      {"Buffer.InputSize odd, twice", [&] { port.Buffer().SetInputSize(4097); }, sizes},
      {"Buffer.InputSize odd, again", [&] { port.Buffer().SetInputSize(4097); }, sizes},
      {"Buffer.OutputSize", [&] { port.Buffer().SetOutputSize(100); }, sizes},
      {"Parity object", [&] { port.SetParity(port.Parity()); }, line_state},
      {"FlowControl object", [&] { port.SetFlowControl(TComFlowControl()); }, line_state},
      {"Timeouts object", [&] { port.SetTimeouts(port.Timeouts()); }, timeouts},
      {"Buffer object", [&] { port.SetBuffer(port.Buffer()); }, sizes},
  };
  for (const auto& c : cases) {
    line->ClearRecords();
    c.change();
    EXPECT_EQ(CallsOf(line->Records()), c.expected) << c.what;
  }
  EXPECT_TRUE(port.Connected());
}

TEST(OpenPortSetters, HandTheNewValueOver) {
  auto line = LineForThisTest();
  TComPort port(nullptr);
  port.SetPort(line->Name());
  port.Open();
  line->ClearRecords();
  port.Timeouts().SetReadTotalConstant(250);
  port.Buffer().SetOutputSize(333);
  port.SetBaudRate(brCustom);
  const auto records = line->Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].timeouts.ReadTotalTimeoutConstant, 250u);
  EXPECT_EQ(records[0].timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(records[1].inQueue, 1024u);
  EXPECT_EQ(records[1].outQueue, 332u);
  EXPECT_EQ(records[2].dcb.BaudRate, 9600u);  // the custom rate, still at its default
}

TEST(SyncMethod, RefusedWhileOpenAcceptedWhileClosed) {
  auto line = LineForThisTest();
  TComPort port(nullptr);
  port.SetPort(line->Name());
  port.SetSyncMethod(smWindowSync);  // closed: stored
  EXPECT_EQ(port.SyncMethod(), smWindowSync);
  port.SetSyncMethod(smThreadSync);
  port.Open();
  port.SetSyncMethod(smThreadSync);  // unchanged: silent
  try {
    port.SetSyncMethod(smNone);
    FAIL() << "no error";
  } catch (const EComPortExt&) {
    FAIL() << "raised the extended class";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.ErrorCode(), 14);
    EXPECT_EQ(error.Message(), line->Name() + " Error: Cannot set property while connected");
  }
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.HasMonitor());
}

TEST(ConnectedProperty, OpensAndCloses) {
  auto line = LineForThisTest();
  TComPort port(nullptr);
  testing::EventLog log(port);
  port.SetPort(line->Name());
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line->IsOpen());
  port.SetConnected(true);  // same value: nothing
  port.SetConnected(false);
  EXPECT_FALSE(line->IsOpen());
  port.SetConnected(false);
  EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "BeforeOpen"), 1);
  EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "AfterClose"), 1);
}

}  // namespace
}  // namespace comport
