#include "comport/port.h"
#include "events_test_support.h"
#include "port_test_support.h"
#include "runtime/main_thread.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

namespace comport {
namespace {

using namespace events_testing;
using testing::LineForThisTest;

const std::string kCloseRefused = " Error: Cannot close the port from inside its own event handler";
const std::string kFreeRefused = "Cannot free the port from inside its own event handler";

std::string RouteName(TSyncMethod route) {
  switch (route) {
    case smThreadSync:
      return "ThreadSync";
    case smWindowSync:
      return "WindowSync";
    case smNone:
      return "None";
    case smDisableEvents:
      return "Disabled";
  }
  return "Unknown";
}

// Runs `close` and writes what it raised to the log ("refused: <message> #<code>").
void TryToClose(testing::EventLog& log, const std::function<void()>& close) {
  try {
    close();
    log.Add("closed");
  } catch (const EComPort& error) {
    log.Add("refused: " + error.Message() + " #" + std::to_string(error.ErrorCode()));
  }
}

class OwnHandlerTest : public EventThreadTest {
 protected:
  std::string Refusal() { return "refused: " + line->Name() + kCloseRefused + " #0"; }
  // Reads what was announced, so each delivery is seen once.
  void Drain(std::int32_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    port.Read(bytes.data(), count);
  }
};

// Deliveries through which the event thread waits for the handler (or is running it).
class OwnHandler : public OwnHandlerTest, public ::testing::WithParamInterface<TSyncMethod> {
 protected:
  void SetUp() override {
    OwnHandlerTest::SetUp();
    port.SetSyncMethod(GetParam());
  }
};

TEST_P(OwnHandler, EveryWayOfClosingIsRefusedAndThePortKeepsWorking) {
  int deliveries = 0;
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    Drain(count);
    if (++deliveries == 1) {
      TryToClose(log, [&] { port.Close(); });
      TryToClose(log, [&] { port.SetConnected(false); });
      TryToClose(log, [&] { port.SetPort("COM7"); });
      log.Add(port.Connected() && port.HasMonitor() ? "still open" : "torn down");
    } else {
      log.Add("delivered again");
    }
  };
  OpenQuietly();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("still open") || log.Contains("torn down"); }));
  EXPECT_EQ(log.Take(), (Log{Refusal(), Refusal(), Refusal(), "still open"}));
  EXPECT_EQ(port.Port(), line->Name());
  EXPECT_TRUE(line->IsOpen());

  line->Inject({2});
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("delivered again"); }));
  port.Close();
  EXPECT_EQ(log.Take(),
            (Log{"delivered again", "CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
  EXPECT_FALSE(line->IsOpen());
}

// Processing messages inside the handler does not end the delivery: whatever runs in
// there, the handler itself or a call handed over by another thread, may not close.
using ThreadSyncHandler = OwnHandlerTest;  // the default route

TEST_F(ThreadSyncHandler, ClosingAfterProcessingMessagesIsRefusedToo) {
  std::future<void> handedOver;
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    Drain(count);
    runtime::ProcessMessages();
    TryToClose(log, [&] { port.Close(); });
    handedOver = std::async(std::launch::async, [&] {
      runtime::RunOnMainThread([&] { TryToClose(log, [&] { port.SetConnected(false); }); });
    });
    ASSERT_TRUE(PumpUntil([&] { return log.Size() == 2; }));
  };
  OpenQuietly();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 2; }));
  handedOver.get();
  EXPECT_EQ(log.Take(), (Log{Refusal(), Refusal()}));
  EXPECT_TRUE(port.Connected());
}

// The handler of one port may close another port, whose own delivery may be waiting.
TEST_P(OwnHandler, AHandlerMayCloseAnotherPort) {
  auto otherLine = LineForThisTest("_other");
  TComPort other(nullptr);
  other.SetPort(otherLine->Name());
  other.OnRxChar = [&](TObject*, std::int32_t count) {
    log.Add("other.RxChar(" + std::to_string(count) + ")");
  };
  other.OnAfterClose = [&](TObject*) { log.Add("other.AfterClose"); };
  other.Open();
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    Drain(count);
    if (GetParam() == smThreadSync) {
      // Queued behind this delivery: it runs inside the other port's Close.
      otherLine->Inject({5, 6});
      ASSERT_TRUE(DeliveryWaiting());
    }
    TryToClose(log, [&] { other.Close(); });
  };
  OpenQuietly();
  if (GetParam() == smNone) {
    otherLine->Inject({5, 6});
    ASSERT_TRUE(DeliveryWaiting());  // the other port's delivery waits for the main thread
  }
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("closed"); }));
  EXPECT_EQ(log.Take(), (Log{"other.RxChar(2)", "other.AfterClose", "closed"}));
  EXPECT_FALSE(other.Connected());
  EXPECT_FALSE(otherLine->IsOpen());
  EXPECT_TRUE(port.Connected());
}

INSTANTIATE_TEST_SUITE_P(EventThread, OwnHandler, ::testing::Values(smThreadSync, smNone),
                         [](const auto& info) { return RouteName(info.param); });

// Window delivery replies before its handler runs, so the event thread is free and the
// handler may close the port.
using WindowDelivery = EventThreadTest;

TEST_F(WindowDelivery, AHandlerMayCloseItsOwnPort) {
  DisplayCapture display;
  port.SetSyncMethod(smWindowSync);
  port.OnRxChar = [&](TObject*, std::int32_t) { TryToClose(log, [&] { port.Close(); }); };
  OpenQuietly();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("closed"); }));
  EXPECT_EQ(log.Take(),
            (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose", "closed"}));
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.HasMonitor());
  EXPECT_FALSE(line->IsOpen());
  EXPECT_TRUE(display.Messages().empty());
}

#if GTEST_HAS_DEATH_TEST
// A destructor cannot report an error: the process ends, saying why.
class OwnHandlerDeathTest : public OwnHandler {};

TEST_P(OwnHandlerDeathTest, FreeingThePortEndsTheProcessWithTheReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* doomed = new TComPort(nullptr);
        doomed->SetPort(line->Name());
        doomed->SetSyncMethod(GetParam());
        doomed->OnRxChar = [doomed](TObject*, std::int32_t) { delete doomed; };
        doomed->Open();
        line->Inject({1});
        PumpUntil([] { return false; });
      },
      line->Name() + " Error: " + kFreeRefused);
}

INSTANTIATE_TEST_SUITE_P(EventThread, OwnHandlerDeathTest, ::testing::Values(smThreadSync, smNone),
                         [](const auto& info) { return RouteName(info.param); });
#endif

}  // namespace
}  // namespace comport
