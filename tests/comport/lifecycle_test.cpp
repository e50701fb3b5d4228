#include "comport/port.h"
#include "port_test_support.h"
#include "runtime/error_display.h"
#include "winapi/debug_output.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace comport {
namespace {

using testing::CallsOf;
using testing::EventLog;
using testing::ExpectPortExtError;
using testing::LineForThisTest;
using winapi::DriverCall;
using Log = std::vector<std::string>;

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    line = LineForThisTest();
    port.SetPort(line->Name());
  }
  std::shared_ptr<winapi::VirtualLine> line;
  TComPort port{nullptr};
  EventLog log{port};
};

const Log kOpenReport = {"BeforeOpen", "obs.Connection(1)", "AfterOpen", "obs.CTS(1)",
                         "CTS(1)",     "obs.DSR(0)",        "DSR(0)",    "obs.RLSD(1)",
                         "RLSD(1)"};
const Log kCloseReport = {"obs.CTS(0)", "obs.DSR(0)",  "obs.RLSD(0)",       "CTS(0)",    "DSR(0)",
                          "RLSD(0)",    "BeforeClose", "obs.Connection(0)", "AfterClose"};

TEST_F(Lifecycle, OpenAndCloseNotifyInOrderWithLineReports) {
  log.Observe();
  line->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  port.Open();
  EXPECT_EQ(log.Take(), kOpenReport);
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(line->IsOpen());
  port.Close();
  EXPECT_EQ(log.Take(), kCloseReport);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(Lifecycle, OpenOnOpenAndCloseOnClosedDoNothing) {
  port.Close();
  EXPECT_TRUE(log.Take().empty());
  port.Open();
  log.Take();
  line->ClearRecords();
  port.Open();
  EXPECT_TRUE(log.Take().empty());
  EXPECT_TRUE(line->Records().empty());
  EXPECT_EQ(line->OpenCount(), 1);
}

TEST_F(Lifecycle, MonitoringStartsAfterConfigurationAndStopsBeforeTheHandleCloses) {
  port.Open();
  EXPECT_TRUE(port.HasMonitor());
  EXPECT_EQ(port.EventWindow(), nullptr);
  auto records = line->Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].call, DriverCall::SetCommMask);
  EXPECT_EQ(records[3].mask, 0x05FFu);
  line->ClearRecords();
  port.Close();
  EXPECT_FALSE(port.HasMonitor());
  records = line->Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].call, DriverCall::PurgeComm);
  EXPECT_EQ(records[0].purgeFlags, static_cast<DWORD>(PURGE_TXABORT | PURGE_RXABORT));
  EXPECT_EQ(records[1].call, DriverCall::SetCommMask);
  EXPECT_EQ(records[1].mask, 0u);
  EXPECT_EQ(records[2].call, DriverCall::PurgeComm);
  EXPECT_EQ(records[2].purgeFlags, static_cast<DWORD>(PURGE_TXCLEAR | PURGE_RXCLEAR));
}

TEST_F(Lifecycle, WindowDeliveryHasAWindowWhileOpen) {
  port.SetSyncMethod(smWindowSync);
  port.Open();
  EXPECT_NE(port.EventWindow(), nullptr);
  EXPECT_TRUE(port.HasMonitor());
  port.Close();
  EXPECT_EQ(port.EventWindow(), nullptr);
  EXPECT_FALSE(port.HasMonitor());
}

TEST_F(Lifecycle, WithoutEventsNoThreadButTheSameNotifications) {
  log.Observe();
  line->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  port.SetEvents({});
  port.SetSyncMethod(smWindowSync);
  port.Open();
  EXPECT_EQ(log.Take(), kOpenReport);
  EXPECT_FALSE(port.HasMonitor());
  EXPECT_EQ(port.EventWindow(), nullptr);
  EXPECT_EQ(CallsOf(line->Records()),
            (testing::Calls{DriverCall::SetupComm, DriverCall::SetCommState,
                            DriverCall::SetCommTimeouts}));
  line->ClearRecords();
  port.Close();
  EXPECT_EQ(log.Take(), kCloseReport);
  EXPECT_EQ(CallsOf(line->Records()), testing::Calls{DriverCall::PurgeComm});
}

TEST_F(Lifecycle, UnknownNameRaisesCodeOneAndLaterOpenSucceeds) {
  std::vector<std::string> debug;
  winapi::SetDebugOutputSink([&](std::string_view text) { debug.emplace_back(text); });
  port.SetPort("VL_no_such_line");
  const EComPortExt error = ExpectPortExtError([&] { port.Open(); });
  winapi::SetDebugOutputSink({});
  EXPECT_EQ(error.ErrorCode(), 1);
  EXPECT_EQ(error.Message(), "COM Port Error: Unable to open com port on VL_no_such_line");
  EXPECT_NE(error.OsErrorCode(), 0u);
  EXPECT_EQ(debug, std::vector<std::string>{"CreateFile \\\\.\\VL_no_such_line"});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Take(), Log{"BeforeOpen"});

  port.SetPort(line->Name());
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line->IsOpen());
}

TEST_F(Lifecycle, RefusedOpenCarriesTheSystemError) {
  line->FailCall(DriverCall::CreateFile, ERROR_ACCESS_DENIED, 1);
  const EComPortExt error = ExpectPortExtError([&] { port.Open(); });
  EXPECT_EQ(error.ErrorCode(), 1);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  port.Open();  // the failure was a one-off
  EXPECT_TRUE(port.Connected());
}

// A setting the device refuses while opening: the device is closed again with no
// close notification, and the later groups are not attempted.
TEST_F(Lifecycle, RefusedSettingDuringOpenClosesTheDeviceAgain) {
  struct Case {
    DriverCall call;
    std::uint8_t code;
    const char* text;
    testing::Calls made;
  };
  const Case cases[] = {
      {DriverCall::SetupComm, 9, "SetupComm function failed", {DriverCall::SetupComm}},
      {DriverCall::SetCommState,
       7,
       "SetCommState function failed",
       {DriverCall::SetupComm, DriverCall::SetCommState}},
      {DriverCall::SetCommTimeouts,
       8,
       "SetCommTimeouts failed",
       {DriverCall::SetupComm, DriverCall::SetCommState, DriverCall::SetCommTimeouts}},
  };
  for (const Case& c : cases) {
    line->ClearRecords();
    line->FailCall(c.call, ERROR_INVALID_PARAMETER, 1);
    const EComPortExt error = ExpectPortExtError([&] { port.Open(); });
    EXPECT_EQ(error.ErrorCode(), c.code);
    EXPECT_EQ(error.Message(), std::string("COM Port Error: ") + c.text + " on " + line->Name());
    EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.HasMonitor());
    EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(line->WaitOpen(false, std::chrono::seconds(10)));
    EXPECT_EQ(CallsOf(line->Records()), c.made);
    EXPECT_EQ(log.Take(), Log{"BeforeOpen"});
  }
}

TEST_F(Lifecycle, RefusedSettingWhileOpenKeepsPortOpenAndValueStored) {
  port.Open();
  line->FailCall(DriverCall::SetCommState, ERROR_INVALID_PARAMETER, 1);
  const EComPortExt error = ExpectPortExtError([&] { port.SetBaudRate(br115200); });
  EXPECT_EQ(error.ErrorCode(), 7);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.BaudRate(), br115200);
  line->FailCall(DriverCall::SetupComm, ERROR_INVALID_PARAMETER, 1);
  EXPECT_EQ(ExpectPortExtError([&] { port.Buffer().SetInputSize(8); }).ErrorCode(), 9);
  EXPECT_EQ(port.Buffer().InputSize(), 8);
  line->FailCall(DriverCall::SetCommTimeouts, ERROR_INVALID_PARAMETER, 1);
  EXPECT_EQ(ExpectPortExtError([&] { port.Timeouts().SetReadInterval(3); }).ErrorCode(), 8);
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, FailingAbortLeavesThePortOpenForAnotherTry) {
  port.Open();
  log.Take();
  line->FailCall(DriverCall::PurgeComm, ERROR_GEN_FAILURE);
  const EComPortExt error = ExpectPortExtError([&] { port.Close(); });
  EXPECT_EQ(error.ErrorCode(), 5);
  EXPECT_EQ(error.Message(), "COM Port Error: PurgeComm function failed on " + line->Name());
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.HasMonitor());
  EXPECT_TRUE(line->IsOpen());
  EXPECT_EQ(log.Take(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose"}));
  line->ClearFailures();
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(Lifecycle, AnUnpluggedDeviceCanStillBeClosedAndOpenedAgain) {
  port.Open();
  log.Take();
  line->Disconnect();
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.HasMonitor());
  EXPECT_FALSE(line->IsOpen());
  EXPECT_EQ(log.Take(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
  line->Reconnect();
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, AbortKeepsTheQueuedBytes) {
  port.Open();
  line->Inject({1, 2, 3});
  ASSERT_TRUE(testing::WaitUntil([&] { return port.RxQueueCount() == 3; }));
  port.AbortPendingIO();
  EXPECT_EQ(port.RxQueueCount(), 3);
}

TEST_F(Lifecycle, ErrorsOfTheNotificationsReachTheCaller) {
  port.OnBeforeOpen = [](TObject*) { throw std::runtime_error("before open"); };
  EXPECT_THROW(port.Open(), std::runtime_error);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(line->OpenCount(), 0);

  port.OnBeforeOpen = nullptr;
  port.OnAfterOpen = [](TObject*) { throw std::runtime_error("after open"); };
  EXPECT_THROW(port.Open(), std::runtime_error);
  EXPECT_TRUE(port.Connected());  // open and monitored all the same
  EXPECT_TRUE(port.HasMonitor());

  port.OnBeforeClose = [](TObject*) { throw std::runtime_error("before close"); };
  EXPECT_THROW(port.Close(), std::runtime_error);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line->IsOpen());

  port.OnBeforeClose = nullptr;
  port.OnAfterClose = [](TObject*) { throw std::runtime_error("after close"); };
  EXPECT_THROW(port.Close(), std::runtime_error);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(Lifecycle, ClosingInTheAfterOpenHandlerEndsTheOpenQuietly) {
  port.OnAfterOpen = [&](TObject*) {
    log.Add("AfterOpen");
    port.Close();
  };
  port.Open();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line->IsOpen());
  EXPECT_EQ(log.Take(), (Log{"BeforeOpen", "AfterOpen", "CTS(0)", "DSR(0)", "RLSD(0)",
                             "BeforeClose", "AfterClose"}));
  port.OnAfterOpen = nullptr;
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, LineQueryFailingWhileOpeningLeavesThePortOpen) {
  line->FailCall(DriverCall::GetCommModemStatus, ERROR_GEN_FAILURE, 1);
  const EComPortExt error = ExpectPortExtError([&] { port.Open(); });
  EXPECT_EQ(error.ErrorCode(), 11);
  EXPECT_EQ(error.Message(),
            "COM Port Error: GetCommModemStatus function failed on " + line->Name());
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, RenamingAnOpenPortReopensUnderTheNewName) {
  auto second = LineForThisTest("_2");
  port.Open();
  log.Take();
  port.SetPort(second->Name());
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(line->IsOpen());
  EXPECT_TRUE(second->IsOpen());
  const Log entries = log.Take();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "AfterClose"), 1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "BeforeOpen"), 1);
  EXPECT_LT(std::find(entries.begin(), entries.end(), "AfterClose"),
            std::find(entries.begin(), entries.end(), "BeforeOpen"));

  port.SetPort(second->Name());  // same name: nothing
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(Lifecycle, RenamingToAnUnopenableNameLeavesThePortClosed) {
  port.Open();
  log.Take();
  const EComPortExt error = ExpectPortExtError([&] { port.SetPort("VL_gone"); });
  EXPECT_EQ(error.ErrorCode(), 1);
  EXPECT_EQ(error.Message(), "COM Port Error: Unable to open com port on VL_gone");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "VL_gone");
  EXPECT_FALSE(line->IsOpen());
  const Log entries = log.Take();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ((Log{entries.end() - 3, entries.end()}),
            (Log{"BeforeClose", "AfterClose", "BeforeOpen"}));
}

TEST_F(Lifecycle, LoadingDefersTheOpenUntilEndLoading) {
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(line->IsOpen());
  port.SetSyncMethod(smNone);  // never refused while loading
  port.SetBaudRate(br38400);
  auto second = LineForThisTest("_2");
  port.SetPort(second->Name());
  EXPECT_EQ(line->OpenCount() + second->OpenCount(), 0);
  EXPECT_TRUE(log.Take().empty());

  port.EndLoading();
  EXPECT_FALSE(port.Loading());
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(second->IsOpen());
  EXPECT_EQ(port.SyncMethod(), smNone);
  EXPECT_EQ(log.Take().front(), "BeforeOpen");
}

TEST_F(Lifecycle, FailedOpenAtEndLoadingIsShownAndSwallowed) {
  std::vector<std::string> shown;
  runtime::SetExceptionDisplay([&](const std::string& message) { shown.push_back(message); });
  port.SetPort("VL_missing");
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_NO_THROW(port.EndLoading());
  runtime::SetExceptionDisplay({});
  EXPECT_EQ(shown,
            std::vector<std::string>{"COM Port Error: Unable to open com port on VL_missing"});
  EXPECT_FALSE(port.Connected());
}

TEST(PortDestruction, ClosesAnOpenPort) {
  auto line = LineForThisTest();
  int afterClose = 0;
  {
    TComPort port(nullptr);
    port.SetPort(line->Name());
    port.OnAfterClose = [&](TObject*) { ++afterClose; };
    port.Open();
  }
  EXPECT_EQ(afterClose, 1);
  EXPECT_FALSE(line->IsOpen());
}

TEST(PortDestruction, SwallowsAFailedCloseAndStillReleasesEverything) {
  auto line = LineForThisTest();
  {
    TComPort port(nullptr);
    port.SetPort(line->Name());
    port.SetSyncMethod(smWindowSync);
    port.Open();
    line->FailCall(DriverCall::PurgeComm, ERROR_GEN_FAILURE);
  }
  EXPECT_FALSE(line->IsOpen());
  line->ClearFailures();
  TComPort again(nullptr);  // the line can be opened again: nothing kept it
  again.SetPort(line->Name());
  again.Open();
  EXPECT_TRUE(again.Connected());
}

}  // namespace
}  // namespace comport
