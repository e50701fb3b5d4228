// Event thread checks that need the system's view of the process (threads,
// descriptors) or a real pseudo-terminal.
#include "comport/port.h"
#include "comport/events_test_support.h"
#include "comport/port_test_support.h"
#include "winapi/linux/terminal_test_pty.h"
#include "winapi/virtual_line.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace comport {
namespace {

using namespace events_testing;
using testing::EventLog;
using testing::LineForThisTest;
using testing::WaitUntil;
using winapi::testing::PtyPeer;

std::size_t EntriesIn(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}
std::size_t ThreadCount() {
  return EntriesIn("/proc/self/task");
}
std::size_t DescriptorCount() {
  return EntriesIn("/proc/self/fd");
}

// Emulated handles carry increasing ids and are never reused: every live handle made
// between two fresh ones lies in between. Probing closes what it finds.
std::uintptr_t HandleId(HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle) >> 2;
}
HANDLE FreshHandle() {
  HANDLE event = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  winapi::CloseHandle(event);
  return event;
}
int LiveHandlesBetween(HANDLE first, HANDLE last) {
  int live = 0;
  for (std::uintptr_t id = HandleId(first) + 1; id < HandleId(last); ++id) {
    if (winapi::CloseHandle(reinterpret_cast<HANDLE>((id << 2) | 3))) ++live;
  }
  return live;
}

#if defined(__SANITIZE_THREAD__)
constexpr int kCycles = 200;  // thread creation is slow under ThreadSanitizer
#else
constexpr int kCycles = 1000;
#endif

// One cycle before counting: sanitizers and lazily made singletons start threads of
// their own with the first thread the process creates.
void WarmUp(const std::string& portName) {
  TComPort port(nullptr);
  port.SetPort(portName);
  port.Open();
  port.Close();
}

TEST(EventStress, OpenCloseCyclesWithTrafficLeaveNoThreadDescriptorOrHandle) {
  runtime::SetMainThread();
  auto line = LineForThisTest();
  WarmUp(line->Name());
  const std::size_t threadsBefore = ThreadCount();
  const std::size_t descriptorsBefore = DescriptorCount();
  const HANDLE firstHandle = FreshHandle();
  {
    TComPort port(nullptr);
    port.SetPort(line->Name());
    int rxEvents = 0;
    int lineEvents = 0;
    port.OnRxChar = [&](TObject*, std::int32_t count) {
      ++rxEvents;
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
      port.Read(bytes.data(), count);
    };
    port.OnCTSChange = [&](TObject*, bool) { ++lineEvents; };
    port.OnDSRChange = port.OnCTSChange;

    std::atomic<bool> stop{false};
    std::thread feeder([&] {
      for (std::uint8_t i = 0; !stop.load(); ++i) {
        line->Inject({i, static_cast<std::uint8_t>(i + 1)});
        line->SetModemStatus(i & 1 ? MS_CTS_ON | MS_DSR_ON : 0);
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // pacing only
      }
    });
    const TSyncMethod routes[] = {smThreadSync, smWindowSync, smDisableEvents};
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      port.SetSyncMethod(routes[cycle % 3]);
      port.Open();
      PumpFor(std::chrono::milliseconds(cycle % 10 == 0 ? 2 : 0));
      port.Close();
    }
    stop.store(true);
    feeder.join();
    EXPECT_GT(rxEvents, 0);
    EXPECT_GT(lineEvents, 0);
  }
  EXPECT_EQ(LiveHandlesBetween(firstHandle, FreshHandle()), 0);
  // A thread of the warm-up may still be ending when the count before is taken, and the
  // last close's threads may still be ending now: no more threads than before, in time.
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threadsBefore; }))
      << ThreadCount() << " threads, " << threadsBefore << " before";
  EXPECT_EQ(DescriptorCount(), descriptorsBefore);
}

TEST(EventStress, PseudoTerminalCyclesLeaveNoThreadDescriptorOrHandle) {
  runtime::SetMainThread();
  PtyPeer peer;
  WarmUp(peer.SlavePath());
  const std::size_t threadsBefore = ThreadCount();
  const std::size_t descriptorsBefore = DescriptorCount();
  const HANDLE firstHandle = FreshHandle();
  {
    TComPort port(nullptr);
    port.SetPort(peer.SlavePath());
    int rxEvents = 0;
    port.OnRxChar = [&](TObject*, std::int32_t count) {
      ++rxEvents;
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
      port.Read(bytes.data(), count);
    };
    for (int cycle = 0; cycle < kCycles / 5; ++cycle) {
      port.Open();
      peer.Send({1, 2, 3});
      if (cycle % 10 == 0) {
        const int before = rxEvents;
        ASSERT_TRUE(PumpUntil([&] { return rxEvents > before; }));
      }
      port.Close();
    }
    EXPECT_GT(rxEvents, 0);
  }
  EXPECT_EQ(LiveHandlesBetween(firstHandle, FreshHandle()), 0);
  // A thread of the warm-up may still be ending when the count before is taken, and the
  // last close's threads may still be ending now: no more threads than before, in time.
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threadsBefore; }))
      << ThreadCount() << " threads, " << threadsBefore << " before";
  EXPECT_EQ(DescriptorCount(), descriptorsBefore);
}

TEST(PseudoTerminalEvents, BytesArrivingBeforeTheDeliveryAreAnnouncedOnce) {
  runtime::SetMainThread();
  PtyPeer peer;
  TComPort port(nullptr);
  EventLog log(port, EventLog::RxBufText::Count);
  port.OnRxChar = [&](TObject*, std::int32_t count) {
    log.Add("RxChar(" + std::to_string(count) + ")");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    EXPECT_EQ(port.Read(bytes.data(), count), count);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  };
  port.SetPort(peer.SlavePath());
  port.Open();
  log.Take();
  peer.Send({1, 2, 3});
  ASSERT_TRUE(DeliveryWaiting());
  peer.Send({4, 5});
  ASSERT_TRUE(WaitUntil([&] { return port.RxQueueCount() == 5; }));
  ASSERT_TRUE(PumpUntil([&] { return log.Size() == 1; }));
  PumpFor(kQuietPeriod);  // the second receive event finds nothing to announce
  EXPECT_EQ(log.Take(), Log{"RxChar(5)"});
  EXPECT_EQ(port.RxQueueCount(), 0);
  port.Close();
}

TEST(DeviceGone, TheEventThreadEndsInsteadOfSpinning) {
  runtime::SetMainThread();
  auto line = LineForThisTest();
  TComPort port(nullptr);
  EventLog log(port, EventLog::RxBufText::Count);
  port.SetPort(line->Name());
  port.Open();
  log.Take();
  const std::size_t threadsOpen = ThreadCount();  // the event thread and the driver's timer
  line->Disconnect();
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == threadsOpen - 1; }));
  PumpFor(kQuietPeriod);
  EXPECT_EQ(log.Take(), Log{});
  EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace comport
