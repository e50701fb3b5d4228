#include "comport/port.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace comport {
namespace {

using testing::EventLog;
using testing::ExpectPortExtError;
using testing::LineForThisTest;
using testing::WaitUntil;
using winapi::DriverCall;
using Log = std::vector<std::string>;

// The handlers called directly on an open port without an event thread.
class EventHandling : public testing::OpenPortWithoutEvents {};

TEST_F(EventHandling, RxCharAnnouncesTheQueuedCount) {
  InjectAndWait({1, 2, 3});
  InjectAndWait({4, 5});
  std::vector<std::uint8_t> read;
  port.OnRxChar = [&](TObject* sender, std::int32_t count) {
    EXPECT_EQ(sender, &port);
    log.Add("RxChar(" + std::to_string(count) + ")");
    std::uint8_t byte;
    for (std::int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(port.Read(&byte, 1), 1);
      read.push_back(byte);
    }
  };
  port.HandleRxChar();
  EXPECT_EQ(read, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(log.Take(), (Log{"obs.Rx(1)", "RxChar(5)", "obs.Rx(0)"}));
  port.HandleRxChar();  // the queue is empty now
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(EventHandling, DefaultsNeverRaiseRxBuf) {
  InjectAndWait({1});
  port.HandleRxChar();
  EXPECT_EQ(log.Take(), (Log{"obs.Rx(1)", "RxChar(1)"}));
  EXPECT_EQ(port.RxQueueCount(), 1);
}

TEST_F(EventHandling, BufferedPathReadsOnceForEveryListener) {
  PortObserver second;
  log.observer.BytesReceived = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
    log.Add("obs.BytesReceived(" + EventLog::Bytes(b, n) + ")");
  };
  second.BytesReceived = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
    log.Add("second.BytesReceived(" + EventLog::Bytes(b, n) + ")");
  };
  port.AddObserver(&second);
  EXPECT_TRUE(port.BufferObserverPresent());
  InjectAndWait({7, 8, 9});
  port.HandleRxChar();
  EXPECT_EQ(log.Take(), (Log{"obs.Rx(1)", "obs.Rx(0)", "RxBuf(7 8 9)", "obs.BytesReceived(7 8 9)",
                             "second.BytesReceived(7 8 9)"}));
  EXPECT_EQ(port.RxQueueCount(), 0);
  port.RemoveObserver(&second);
}

TEST_F(EventHandling, BufferedPathPassesOnAListenersErrorAfterFreeing) {
  log.observer.BytesReceived = [](TObject*, const std::uint8_t*, std::int32_t) {
    throw std::runtime_error("listener");
  };
  InjectAndWait({1, 2});
  EXPECT_THROW(port.HandleRxChar(), std::runtime_error);
  EXPECT_EQ(port.RxQueueCount(), 0);
  EXPECT_EQ(log.Take(), (Log{"obs.Rx(1)", "obs.Rx(0)", "RxBuf(1 2)"}));
}

TEST_F(EventHandling, BufferedPathReportsTheBytesActuallyRead) {
  log.observer.BytesReceived = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
    log.Add("obs.BytesReceived(" + EventLog::Bytes(b, n) + ")");
  };
  InjectAndWait({1, 2});
  port.OnRxBuf = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
    log.Add("RxBuf(" + EventLog::Bytes(b, n) + ")");
  };
  line->FailCall(DriverCall::ReadFile, ERROR_GEN_FAILURE, 1);  // the read cannot start
  port.HandleRxChar();
  EXPECT_EQ(log.Take(), (Log{"obs.Rx(1)", "RxBuf()", "obs.BytesReceived()"}));
}

TEST_F(EventHandling, ErrorEventOnlyForReportedErrors) {
  line->RaiseLineErrors(CE_RXPARITY);  // dropped: parity checking is off
  port.HandleError();
  EXPECT_TRUE(log.Take().empty());
  line->RaiseLineErrors(CE_FRAME | CE_OVERRUN);
  port.HandleError();
  EXPECT_EQ(log.Take(), Log{"Error(5)"});
}

TEST_F(EventHandling, SimpleEvents) {
  port.HandleTxEmpty();
  port.HandleBreak();
  port.HandleRing();
  port.HandleRxFlag();
  port.HandleRx80Full();
  EXPECT_EQ(log.Take(), (Log{"obs.Tx(0)", "obs.TxEmptied", "TxEmpty", "Break", "obs.Ring", "Ring",
                             "obs.RxFlagSeen", "RxFlag", "Rx80Full"}));
}

TEST_F(EventHandling, LineChangesReportThePresentState) {
  line->SetModemStatus(MS_DSR_ON);
  port.HandleCTSChange();
  port.HandleDSRChange();
  port.HandleRLSDChange();
  line->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  port.HandleCTSChange();
  port.HandleRLSDChange();
  EXPECT_EQ(log.Take(), (Log{"obs.CTS(0)", "CTS(0)", "obs.DSR(1)", "DSR(1)", "obs.RLSD(0)",
                             "RLSD(0)", "obs.CTS(1)", "CTS(1)", "obs.RLSD(1)", "RLSD(1)"}));
}

TEST_F(EventHandling, QueryErrorsReachTheCaller) {
  line->FailCall(DriverCall::ClearCommError, ERROR_GEN_FAILURE, 2);
  EXPECT_EQ(ExpectPortExtError([&] { port.HandleRxChar(); }).ErrorCode(), 10);
  EXPECT_EQ(ExpectPortExtError([&] { port.HandleError(); }).ErrorCode(), 10);
  line->FailCall(DriverCall::GetCommModemStatus, ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(ExpectPortExtError([&] { port.HandleDSRChange(); }).ErrorCode(), 11);
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(EventHandling, LineReports) {
  line->SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  port.ReportLineSignals(true);
  EXPECT_EQ(log.Take(),
            (Log{"obs.CTS(1)", "CTS(1)", "obs.DSR(1)", "DSR(1)", "obs.RLSD(1)", "RLSD(1)"}));
  line->FailCall(DriverCall::GetCommModemStatus, ERROR_GEN_FAILURE);  // not asked when closing
  port.ReportLineSignals(false);
  EXPECT_EQ(log.Take(),
            (Log{"obs.CTS(0)", "obs.DSR(0)", "obs.RLSD(0)", "CTS(0)", "DSR(0)", "RLSD(0)"}));
  line->ClearFailures();
}

TEST(Observers, ChangesDuringAWalkWaitUntilItEnds) {
  TComPort port(nullptr);
  std::vector<std::string> calls;
  PortObserver first, second, late;
  late.TxEmptied = [&](TObject*) { calls.push_back("late"); };
  first.TxEmptied = [&](TObject*) {
    calls.push_back("first");
    port.AddObserver(&late);
    port.RemoveObserver(&second);
    EXPECT_EQ(port.Observers().size(), 2u);
  };
  second.TxEmptied = [&](TObject*) { calls.push_back("second"); };
  port.AddObserver(&first);
  port.AddObserver(&second);
  port.AddObserver(&second);  // once only
  port.HandleTxEmpty();
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(port.Observers(), (std::vector<PortObserver*>{&first, &late}));
  calls.clear();
  port.RemoveObserver(&first);
  port.HandleTxEmpty();
  EXPECT_EQ(calls, std::vector<std::string>{"late"});
}

TEST(Observers, BufferObserverPresentIsExact) {
  TComPort port(nullptr);
  PortObserver plain, buffered;
  buffered.BytesReceived = [](TObject*, const std::uint8_t*, std::int32_t) {};
  port.AddObserver(&plain);
  EXPECT_FALSE(port.BufferObserverPresent());
  port.AddObserver(&buffered);
  EXPECT_TRUE(port.BufferObserverPresent());
  plain.BytesReceived = buffered.BytesReceived;
  port.RemoveObserver(&buffered);
  EXPECT_TRUE(port.BufferObserverPresent());
  plain.BytesReceived = nullptr;
  EXPECT_FALSE(port.BufferObserverPresent());
}

// Descendants take over an event by overriding its firing method.
class CountingPort : public TComPort {
 public:
  using TComPort::TComPort;
  int rxChars = 0;

 protected:
  void FireRxChar(std::int32_t count) override { rxChars += count; }
};

TEST(FiringMethods, CanBeOverridden) {
  auto line = LineForThisTest();
  CountingPort port(nullptr);
  bool published = false;
  port.OnRxChar = [&](TObject*, std::int32_t) { published = true; };
  port.SetPort(line->Name());
  port.SetEvents({});
  port.Open();
  line->Inject({1, 2});
  ASSERT_TRUE(WaitUntil([&] { return port.RxQueueCount() == 2; }));
  port.HandleRxChar();
  EXPECT_EQ(port.rxChars, 2);
  EXPECT_FALSE(published);
}

}  // namespace
}  // namespace comport
