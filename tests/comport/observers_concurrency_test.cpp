#include "comport/port.h"
#include "events_test_support.h"
#include "port_test_support.h"
#include "runtime/main_thread.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace comport {
namespace {

using namespace events_testing;
using testing::WaitUntil;

// Handlers on the event thread (smNone) walk the observer list while the owner's
// thread registers and removes records.
class ObserverRegistration : public EventThreadTest {
 protected:
  void SetUp() override {
    EventThreadTest::SetUp();
    port.SetSyncMethod(smNone);
    port.OnCTSChange = nullptr;  // the line toggles thousands of times
  }
};

// Every record is destroyed as soon as its removal returns, so a walk still calling
// it would touch freed memory; the records alternate between wanting the received
// bytes and not, which moves the receive path between its two ways while it runs.
TEST_F(ObserverRegistration, RacingTheEventThreadsWalksIsSafe) {
  constexpr int kMinRounds = 2000;
  constexpr int kMinWalks = 200;
  std::atomic<int> walks{0};
  std::atomic<int> transientCalls{0};
  std::atomic<int> bytesRead{0};
  PortObserver steady;
  steady.CtsChanged = [&](TObject*, bool) { ++walks; };
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    bytesRead += port.Read(bytes.data(), count);
  };
  OpenQuietly();
  port.AddObserver(&steady);

  // Stopped and joined however the test body ends.
  std::jthread lineActivity([&](std::stop_token stop) {
    for (std::uint8_t i = 0; !stop.stop_requested(); ++i) {
      line->SetModemStatus(i % 2 ? MS_CTS_ON : 0);
      if (i % 16 == 0) line->Inject({i});
      std::this_thread::yield();
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + 3 * kLimit;
  int rounds = 0;
  while ((rounds < kMinRounds || walks.load() < kMinWalks || transientCalls.load() == 0) &&
         std::chrono::steady_clock::now() < deadline) {
    const bool wantsBytes = rounds % 2 == 1;
    auto transient = std::make_unique<PortObserver>();
    transient->CtsChanged = [&](TObject*, bool) { ++transientCalls; };
    transient->RxActivity = [&](TObject*, bool) { ++transientCalls; };
    if (wantsBytes) {
      transient->BytesReceived = [&](TObject*, const std::uint8_t*, std::int32_t count) {
        bytesRead += count;
      };
    }
    port.AddObserver(transient.get());
    ASSERT_EQ(port.Observers(), (std::vector<PortObserver*>{&steady, transient.get()}));
    ASSERT_EQ(port.BufferObserverPresent(), wantsBytes);
    port.RemoveObserver(transient.get());
    ASSERT_EQ(port.Observers(), std::vector<PortObserver*>{&steady});
    ASSERT_FALSE(port.BufferObserverPresent());
    transient.reset();
    ++rounds;
  }
  lineActivity.request_stop();
  lineActivity.join();
  port.Close();
  EXPECT_GE(rounds, kMinRounds);
  EXPECT_GE(walks.load(), kMinWalks);
  EXPECT_GT(transientCalls.load(), 0) << "no walk ever saw a registered record";
  EXPECT_GT(bytesRead.load(), 0);
}

// Many registrations while bytes keep arriving: the walks that end on the event thread
// free chains of replaced lists that the owner's thread is still linking.
TEST_F(ObserverRegistration, ManyRegistrationsWhileBytesArriveAreSafe) {
  constexpr int kObservers = 64;
  constexpr int kMinRounds = 100;
  constexpr int kMinWalks = 500;
  std::atomic<int> walks{0};
  PortObserver steady;
  steady.RxActivity = [&](TObject*, bool) { ++walks; };
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    port.Read(bytes.data(), count);
  };
  port.SetEvents({evRxChar});
  OpenQuietly();
  port.AddObserver(&steady);

  std::jthread feeder([&](std::stop_token stop) {
    for (std::uint8_t i = 0; !stop.stop_requested(); ++i) {
      line->Inject({i});
      std::this_thread::sleep_for(50us);
    }
  });

  std::vector<PortObserver> transient(kObservers);
  const auto deadline = std::chrono::steady_clock::now() + 3 * kLimit;
  int rounds = 0;
  while ((rounds < kMinRounds || walks.load() < kMinWalks) &&
         std::chrono::steady_clock::now() < deadline) {
    for (PortObserver& record : transient) port.AddObserver(&record);
    ASSERT_EQ(port.Observers().size(), std::size_t{kObservers + 1});
    for (PortObserver& record : transient) port.RemoveObserver(&record);
    ASSERT_EQ(port.Observers(), std::vector<PortObserver*>{&steady});
    ++rounds;
  }
  feeder.request_stop();
  feeder.join();
  port.Close();
  EXPECT_GE(rounds, kMinRounds);
  EXPECT_GE(walks.load(), kMinWalks);
}

TEST_F(ObserverRegistration, RemovalWaitsForAWalkOnAnotherThreadThatMayStillCallTheRecord) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> inside{false};
  observer.CtsChanged = [&](TObject*, bool) {
    inside = true;
    released.wait();
  };
  OpenQuietly();
  port.AddObserver(&observer);
  line->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));

  std::atomic<bool> removed{false};
  std::thread remover([&] {
    port.RemoveObserver(&observer);
    removed = true;
  });
  // Later walks no longer see the record at once; the call returns with the walk.
  EXPECT_TRUE(WaitUntil([&] { return port.Observers().empty(); }));
  PumpFor(kQuietPeriod);
  EXPECT_FALSE(removed.load());
  release.set_value();
  remover.join();
  EXPECT_TRUE(removed.load());
  port.Close();
}

// The walk being waited for hands work to the main thread, which is the one waiting.
TEST_F(ObserverRegistration, RemovalOnTheMainThreadServesItsQueueMeanwhile) {
  observer.CtsChanged = [&](TObject*, bool) {
    runtime::RunOnMainThread([&] { log.Add("handed over"); });
  };
  OpenQuietly();
  port.AddObserver(&observer);
  line->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(DeliveryWaiting());
  port.RemoveObserver(&observer);
  EXPECT_TRUE(log.Contains("handed over"));
  EXPECT_TRUE(port.Observers().empty());
  port.Close();
}

// Inside a walk nothing waits: the walk's own list still holds the record.
TEST_F(ObserverRegistration, RemovalInsideANotificationReturnsAtOnce) {
  PortObserver other;
  observer.CtsChanged = [&](TObject*, bool) {
    port.RemoveObserver(&observer);
    port.RemoveObserver(&other);
    log.Add("removed");
  };
  other.CtsChanged = [&](TObject*, bool) { log.Add("other still called"); };
  OpenQuietly();
  port.AddObserver(&observer);
  port.AddObserver(&other);
  line->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(WaitUntil([&] { return log.Size() == 2; }));
  EXPECT_EQ(log.Take(), (Log{"removed", "other still called"}));
  EXPECT_TRUE(port.Observers().empty());
  port.Close();
}

}  // namespace
}  // namespace comport
