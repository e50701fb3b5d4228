#include "comport/com_thread.h"
#include "comport/port.h"
#include "events_test_support.h"
#include "port_test_support.h"
#include "runtime/message_window.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace comport {
namespace {

using namespace events_testing;

// An open port on a virtual line whose test body is the main thread.
class EventThread : public EventThreadTest {
 protected:
  void AddRxActivityToLog() {
    observer.RxActivity = [this](TObject*, bool on) { log.Add(on ? "Rx(1)" : "Rx(0)"); };
    port.AddObserver(&observer);
  }
};

// ---- The receive path, delivered on the main thread ----

using Receive = EventThread;

TEST_F(Receive, BytesArrivingBeforeTheDeliveryAreAnnouncedOnceAndReadingThemSilencesTheRest) {
  std::vector<std::uint8_t> read;
  port.OnRxChar = [&](TObject* sender, std::int32_t count) {
    EXPECT_EQ(sender, &port);
    log.Add("RxChar(" + std::to_string(count) + ")");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    EXPECT_EQ(port.Read(bytes.data(), count), count);
    read.insert(read.end(), bytes.begin(), bytes.end());
  };
  AddRxActivityToLog();
  OpenQuietly();
  line->Inject({1, 2, 3});
  ASSERT_TRUE(DeliveryWaiting());
  line->Inject({4, 5});
  // The CTS change joins the second receive event in one set: its handling shows
  // that set was delivered, with nothing left to announce.
  line->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("CTS(1)"); }));
  EXPECT_EQ(log.Take(), (Log{"Rx(1)", "RxChar(5)", "Rx(0)", "CTS(1)"}));
  EXPECT_EQ(read, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(log.Threads(), std::set{std::this_thread::get_id()});
}

TEST_F(Receive, ErrorsAreReportedBeforeTheBytesOfTheSameSet) {
  OpenQuietly();
  line->SetModemStatus(MS_DSR_ON);  // holds the event thread while the set builds up
  ASSERT_TRUE(DeliveryWaiting());
  line->Inject({7});
  line->RaiseLineErrors(CE_FRAME);
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 3; }));
  EXPECT_EQ(log.Take(), (Log{"DSR(1)", "Error(1)", "RxChar(1)"}));
}

TEST_F(Receive, AnErrorEventWithNoErrorsLeftFiresNothing) {
  OpenQuietly();
  line->SetModemStatus(MS_DSR_ON);
  ASSERT_TRUE(DeliveryWaiting());
  line->RaiseLineErrors(CE_FRAME);
  EXPECT_EQ(port.ClearLineErrors(), TComErrors{ceFrame});  // taken before the delivery
  line->SetModemStatus(MS_DSR_ON | MS_CTS_ON);
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("CTS(1)"); }));
  EXPECT_EQ(log.Take(), (Log{"DSR(1)", "CTS(1)"}));
}

TEST_F(Receive, ABufferObserverGetsTheBytesThroughRxBufInsteadOfRxChar) {
  std::vector<std::uint8_t> received;
  observer.BytesReceived = [&](TObject* sender, const std::uint8_t* buffer, std::int32_t count) {
    EXPECT_EQ(sender, &port);
    received.insert(received.end(), buffer, buffer + count);
  };
  port.AddObserver(&observer);
  OpenQuietly();
  line->Inject({1, 2, 3});
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  line->Inject({4});
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 4; }));
  EXPECT_EQ(received, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(log.Take(), (Log{"RxBuf(3)", "RxBuf(1)"}));
  EXPECT_EQ(port.RxQueueCount(), 0);
}

// ---- The same line events through each delivery route ----

class Route : public EventThread, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(Route, EveryEventOfOneSetIsHandledOnceInTheFixedOrder) {
  const bool onEventThread = GetParam() == smNone;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  if (onEventThread) {
    port.OnCTSChange = [&](TObject*, bool on) {
      log.Add(on ? "CTS(1)" : "CTS(0)");
      if (on) opened.wait();  // holds the event thread while the set builds up
    };
  }
  port.SetSyncMethod(GetParam());
  port.SetEventChar('\x7E');
  OpenQuietly();
  log.ForgetThreads();

  line->SetModemStatus(MS_CTS_ON);
  if (onEventThread) {
    ASSERT_TRUE(PumpUntil([&] { return log.Size() == 1; }));
  } else {
    ASSERT_TRUE(DeliveryWaiting());
    EXPECT_EQ(log.Size(), 0u) << "handled before the main thread processed its messages";
  }
  line->RaiseLineErrors(CE_FRAME);
  std::vector<std::uint8_t> bytes(900, 0x55);
  bytes.back() = 0x7E;
  line->Inject(bytes);
  const std::uint8_t sent = 0xA5;
  ASSERT_EQ(port.Write(&sent, 1), 1);
  line->RaiseBreak();
  line->SetModemStatus(MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  if (onEventThread) gate.set_value();

  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 11; }));
  // A held delivery reads the line when it runs: by then CTS has dropped again.
  const std::string first = onEventThread ? "CTS(1)" : "CTS(0)";
  EXPECT_EQ(log.Take(), (Log{first, "Error(9)", "RxChar(900)", "TxEmpty", "Break", "Ring", "CTS(0)",
                             "DSR(1)", "RxFlag", "RLSD(1)", "Rx80Full"}));
  const auto threads = log.Threads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_EQ(*threads.begin() == std::this_thread::get_id(), !onEventThread);
  port.Close();
}

INSTANTIATE_TEST_SUITE_P(EventThread, Route, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) {
                           return std::string(info.param == smThreadSync   ? "ThreadSync"
                                              : info.param == smWindowSync ? "WindowSync"
                                                                           : "None");
                         });

// With smNone the handlers notify the observers on the event thread while the main
// thread's own transfers notify them too; neither may disturb the other's walk.
TEST_F(EventThread, EventThreadHandlersAndMainThreadTransfersNotifyObserversSideBySide) {
  std::atomic<int> emptied{0};
  std::atomic<int> sent{0};
  observer.TxEmptied = [&](TObject*) { ++emptied; };
  observer.BytesSent = [&](TObject*, const std::uint8_t*, std::int32_t) { ++sent; };
  port.AddObserver(&observer);
  port.SetSyncMethod(smNone);
  OpenQuietly();
  constexpr int kWrites = 300;
  for (int i = 0; i < kWrites; ++i) {
    const std::uint8_t byte = static_cast<std::uint8_t>(i);
    ASSERT_EQ(port.Write(&byte, 1), 1);
    if (i % 8 == 0) line->Inject({byte});
  }
  ASSERT_TRUE(testing::WaitUntil([&] { return emptied.load() > 0; }));
  EXPECT_EQ(sent.load(), kWrites);
  port.Close();
  // No walk is running now, so a new record is registered at once.
  PortObserver late;
  port.AddObserver(&late);
  EXPECT_EQ(port.Observers().size(), 2u);
  port.RemoveObserver(&late);
}

TEST_F(EventThread, ThreadSyncDeliveriesNeverNestEvenWhenAHandlerProcessesMessages) {
  int depth = 0;
  int deepest = 0;
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    deepest = std::max(deepest, ++depth);
    log.Add("RxChar(" + std::to_string(count) + ")");
    line->SetModemStatus(MS_CTS_ON);
    PumpFor(kQuietPeriod);
    --depth;
  };
  port.OnCTSChange = [&](TObject*, bool on) {
    deepest = std::max(deepest, ++depth);
    log.Add(on ? "CTS(1)" : "CTS(0)");
    --depth;
  };
  OpenQuietly();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return log.Contains("CTS(1)"); }));
  EXPECT_EQ(log.Take(), (Log{"RxChar(1)", "CTS(1)"}));
  EXPECT_EQ(deepest, 1);
}

TEST_F(EventThread, WindowSyncReleasesTheEventThreadBeforeTheHandlerRuns) {
  bool nested = false;
  port.OnRxChar = [&](TObject*, std::int32_t) {
    line->SetModemStatus(MS_CTS_ON);
    // The next event's message arrives while this handler still runs.
    nested = PumpUntil([&] { return log.Contains("CTS(1)"); });
  };
  port.SetSyncMethod(smWindowSync);
  OpenQuietly();
  line->Inject({1});
  ASSERT_TRUE(PumpUntil([&] { return nested; }));
}

TEST_F(EventThread, DisabledEventsWatchTheLineButDeliverNothing) {
  line->SetModemStatus(MS_CTS_ON);
  port.SetSyncMethod(smDisableEvents);
  port.Open();
  EXPECT_EQ(log.Take(), (Log{"BeforeOpen", "AfterOpen", "CTS(1)", "DSR(0)", "RLSD(0)"}));
  EXPECT_TRUE(port.HasMonitor());
  const auto records = line->Records();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().call, winapi::DriverCall::SetCommMask);
  EXPECT_EQ(records.back().mask, 0x05FFu);

  line->Inject({1, 2});
  line->SetModemStatus(MS_DSR_ON);
  line->RaiseBreak();
  PumpFor(kQuietPeriod);
  EXPECT_EQ(log.Size(), 0u);
  EXPECT_EQ(port.RxQueueCount(), 2);
  port.Close();
  EXPECT_EQ(log.Take(), (Log{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
}

TEST_F(EventThread, WindowHandlerHandlesEventMessagesOnlyWhileConnected) {
  runtime::Message message{PortEventMessage, EV_CTS, 0, 77};
  port.PortWindowProc(message);  // closed
  EXPECT_EQ(message.Result, 0);
  EXPECT_EQ(log.Size(), 0u);

  port.SetEvents({});
  OpenQuietly();
  line->SetModemStatus(MS_CTS_ON);
  message.Result = 77;
  port.PortWindowProc(message);
  EXPECT_EQ(message.Result, 0);
  runtime::Message unknownFlag{PortEventMessage, EV_PERR, 0, 77};
  port.PortWindowProc(unknownFlag);
  EXPECT_EQ(unknownFlag.Result, 0);
  runtime::Message other{PortEventMessage + 1, EV_CTS, 0, 77};
  port.PortWindowProc(other);
  EXPECT_EQ(other.Result, 0);
  EXPECT_EQ(log.Take(), Log{"CTS(1)"});
}

}  // namespace
}  // namespace comport
