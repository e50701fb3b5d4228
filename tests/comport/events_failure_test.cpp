#include "comport/port.h"
#include "events_test_support.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace comport {
namespace {

using namespace events_testing;
using testing::WaitUntil;
using winapi::DriverCall;

// Set up before the port and torn down after it, so that what is shown while the
// port closes is captured too.
struct WithDisplayCapture {
  DisplayCapture display;
};

class EventFailure : protected WithDisplayCapture, public EventThreadTest {
 protected:
  // The loop's closing steps, seen by the driver: mask cleared, both queues purged.
  bool LoopEnded() {
    const auto records = line->Records();
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
      if (records[i].call == DriverCall::SetCommMask && records[i].mask == 0 &&
          records[i + 1].call == DriverCall::PurgeComm &&
          records[i + 1].purgeFlags == (PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return true;
      }
    }
    return false;
  }
  // A first RxChar handler that fails once; later ones are logged.
  void FailFirstRxChar() {
    port.OnRxChar = [this](TObject*, std::int32_t count) {
      if (!failed) {
        failed = true;
        throw std::runtime_error("handler failed");
      }
      log.Add("RxChar(" + std::to_string(count) + ")");
    };
  }

  bool failed = false;
};

// The exception ends the thread: the rest of the set and everything later is lost
// until the port is opened again, and nothing is shown.
class FailingDelivery : public EventFailure, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(FailingDelivery, EndsMonitoringSilentlyUntilReopened) {
  FailFirstRxChar();
  port.SetSyncMethod(GetParam());
  OpenQuietly();
  line->ClearRecords();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return LoopEnded(); }));
  EXPECT_EQ(port.RxQueueCount(), 0) << "the closing steps purge the receive queue";
  line->Inject({2});
  line->SetModemStatus(MS_CTS_ON);
  PumpFor(kQuietPeriod);
  EXPECT_EQ(log.Take(), Log{});
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.RxQueueCount(), 1);

  port.Close();
  EXPECT_EQ(log.Take(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
  OpenQuietly();
  line->Inject({3, 4});
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 1; }));
  EXPECT_EQ(log.Take(), Log{"RxChar(2)"});
  port.Close();
  EXPECT_EQ(display.Messages(), Log{});
}

INSTANTIATE_TEST_SUITE_P(EventFailure, FailingDelivery, ::testing::Values(smThreadSync, smNone),
                         [](const auto& info) {
                           return std::string(info.param == smThreadSync ? "ThreadSync" : "None");
                         });

TEST_F(EventFailure, ThreadSyncSkipsTheRestOfTheFailedSet) {
  FailFirstRxChar();
  OpenQuietly();
  line->SetModemStatus(MS_DSR_ON);  // holds the thread while the next set builds up
  ASSERT_TRUE(DeliveryWaiting());
  line->Inject({1});
  line->SetModemStatus(MS_DSR_ON | MS_CTS_ON);
  line->ClearRecords();
  ASSERT_TRUE(PumpUntil([&] { return LoopEnded(); }));
  EXPECT_EQ(log.Take(), Log{"DSR(1)"});
}

TEST_F(EventFailure, WindowSyncShowsTheErrorAndGoesOn) {
  FailFirstRxChar();
  port.SetSyncMethod(smWindowSync);
  OpenQuietly();
  line->SetModemStatus(MS_DSR_ON);
  ASSERT_TRUE(DeliveryWaiting());
  line->Inject({1});
  line->SetModemStatus(MS_DSR_ON | MS_CTS_ON);
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 2; }));
  EXPECT_EQ(log.Take(), (Log{"DSR(1)", "CTS(1)"})) << "the rest of the set is handled";
  EXPECT_EQ(display.Messages(), Log{"handler failed"});

  line->Inject({2});  // joins the byte the failed handler left
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 1; }));
  EXPECT_EQ(log.Take(), Log{"RxChar(2)"});
}

TEST_F(EventFailure, AWaitThatCannotStartEndsTheLoopInsteadOfSpinning) {
  line->FailCall(DriverCall::WaitCommEvent, ERROR_GEN_FAILURE, 1);
  OpenQuietly();
  ASSERT_TRUE(WaitUntil([&] { return LoopEnded(); }));
  line->Inject({1});
  line->SetModemStatus(MS_CTS_ON);
  PumpFor(kQuietPeriod);
  EXPECT_EQ(log.Take(), Log{});
  EXPECT_TRUE(port.HasMonitor());
  port.Close();  // the stop request reaches a thread that has ended
  EXPECT_EQ(log.Take(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
}

TEST_F(EventFailure, AFailedCompletionDeliversNothingAndTheLoopGoesOn) {
  OpenQuietly();
  line->FailCall(DriverCall::GetOverlappedResult, ERROR_GEN_FAILURE, 1);
  line->Inject({1});
  PumpFor(kQuietPeriod);
  EXPECT_EQ(log.Take(), Log{});
  line->Inject({2});
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 1; }));
  EXPECT_EQ(log.Take(), Log{"RxChar(2)"});
}

}  // namespace
}  // namespace comport
