#include "comport/port.h"
#include "events_test_support.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

namespace comport {
namespace {

using namespace events_testing;
using testing::LineForThisTest;
using testing::WaitUntil;

const Log kCloseReport = {"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose"};

// Close while a delivery waits for the main thread.
class CloseDuringDelivery : public EventThreadTest {
 protected:
  void SetUp() override {
    EventThreadTest::SetUp();
    port.OnRxChar = [this](TObject*, std::int32_t count) {
      log.Add("RxChar(" + std::to_string(count) + (port.Connected() ? ", connected)" : ")"));
    };
  }
  void OpenWith(TSyncMethod route) {
    port.SetSyncMethod(route);
    OpenQuietly();
  }
};

TEST_F(CloseDuringDelivery, TheWaitingDeliveryRunsBetweenBeforeCloseAndAfterClose) {
  OpenWith(smThreadSync);
  line->Inject({1, 2, 3});
  ASSERT_TRUE(DeliveryWaiting());
  port.Close();
  Log expected = kCloseReport;
  expected.insert(expected.end(), {"RxChar(3, connected)", "AfterClose"});
  EXPECT_EQ(log.Take(), expected);
  EXPECT_FALSE(port.HasMonitor());
  EXPECT_FALSE(line->IsOpen());
}

// The event thread leaves the delivery with a device event already complete and
// the stop already requested: it must stop without delivering the event.
TEST_F(CloseDuringDelivery, AStopRequestWinsOverAnEventCompletingWithIt) {
  OpenWith(smThreadSync);
  line->Inject({1, 2, 3});
  ASSERT_TRUE(DeliveryWaiting());
  line->SetModemStatus(MS_CTS_ON);
  port.Close();
  Log expected = kCloseReport;
  expected.insert(expected.end(), {"RxChar(3, connected)", "AfterClose"});
  EXPECT_EQ(log.Take(), expected);
}

// With window delivery the handler releases the event thread before it runs, so the
// thread's closing steps may purge the bytes while the handler still counts them:
// the delivery runs while connected, but whether OnRxChar sees bytes is a race.
TEST_F(CloseDuringDelivery, WindowDeliveryRunsWhileConnectedAndTheStopStillWins) {
  OpenWith(smWindowSync);
  line->Inject({1, 2, 3});
  ASSERT_TRUE(DeliveryWaiting());
  line->SetModemStatus(MS_CTS_ON);
  port.Close();
  Log entries = log.Take();
  std::erase(entries, "RxChar(3, connected)");
  Log expected = kCloseReport;
  expected.push_back("AfterClose");
  EXPECT_EQ(entries, expected);
}

// On its way out the event thread discards what the driver still holds in both
// directions. A port without events has no thread and keeps it, for comparison.
class CloseQueues : public ::testing::TestWithParam<bool> {};

TEST_P(CloseQueues, TheEventThreadEmptiesTheDriversQueues) {
  const bool withEvents = GetParam();
  runtime::SetMainThread();
  auto line = LineForThisTest();
  TComPort port(nullptr);
  port.SetPort(line->Name());
  port.Buffer().SetInputSize(16);
  port.SetSyncMethod(smDisableEvents);
  if (!withEvents) port.SetEvents({});
  port.Open();

  std::vector<std::uint8_t> incoming(40, 0x11);
  line->Inject(incoming);
  ASSERT_TRUE(WaitUntil([&] { return port.RxQueueCount() == 16; }));
  EXPECT_EQ(line->PendingReceive(), 24u);
  line->HoldTransmission(true);
  const std::uint8_t outgoing[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto op = port.CreateAsyncOp();
  port.BeginWrite(outgoing, sizeof outgoing, op.get());

  port.Close();
  port.DestroyAsyncOp(op);
  line->HoldTransmission(false);
  if (withEvents) {
    EXPECT_EQ(line->PendingReceive(), 0u);
    EXPECT_TRUE(line->ReadSent(1, kQuietPeriod).empty());
  } else {
    EXPECT_EQ(line->PendingReceive(), 24u);
  }
}

INSTANTIATE_TEST_SUITE_P(EventClose, CloseQueues, ::testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "WithEventThread" : "WithoutEvents");
                         });

}  // namespace
}  // namespace comport
