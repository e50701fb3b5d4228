// Events, waits and the last error, as the component uses them on both systems.
#include "winapi/debug_output.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kLongWaitMs = 5000;

struct Events {
  explicit Events(std::vector<BOOL> manual) {
    for (BOOL m : manual) handles.push_back(winapi::CreateEventA(nullptr, m, FALSE, nullptr));
  }
  ~Events() {
    for (HANDLE h : handles) winapi::CloseHandle(h);
  }
  std::vector<HANDLE> handles;
};

TEST(Events, ManualResetStaysSignalledUntilReset) {
  Events events({TRUE});
  HANDLE event = events.handles[0];
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(winapi::SetEvent(event));
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(winapi::ResetEvent(event));
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(Events, AutoResetIsConsumedByTheWaitThatReturnsIt) {
  Events events({FALSE});
  HANDLE event = events.handles[0];
  ASSERT_TRUE(winapi::SetEvent(event));
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(Events, InitialStateIsHonoured) {
  HANDLE event = winapi::CreateEventA(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  winapi::CloseHandle(event);
}

TEST(Events, WaitAnyReturnsTheLowestSignalledIndex) {
  Events events({FALSE, FALSE, FALSE});
  const HANDLE* h = events.handles.data();
  winapi::SetEvent(h[2]);
  winapi::SetEvent(h[1]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  // Only the returned auto-reset event was consumed.
  EXPECT_EQ(winapi::WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(winapi::WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
}

TEST(Events, WaitAnyWithManualEventsKeepsThemSignalled) {
  Events events({TRUE, TRUE});
  const HANDLE* h = events.handles.data();
  winapi::SetEvent(h[1]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  winapi::SetEvent(h[0]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, h, FALSE, 0), WAIT_OBJECT_0);
}

TEST(Events, WaitAllNeedsEveryEvent) {
  Events events({FALSE, TRUE});
  const HANDLE* h = events.handles.data();
  winapi::SetEvent(h[0]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, h, TRUE, 0), WAIT_TIMEOUT);
  // A wait that times out consumes nothing.
  winapi::SetEvent(h[1]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(winapi::WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
  EXPECT_EQ(winapi::WaitForSingleObject(h[1], 0), WAIT_OBJECT_0);
}

TEST(Events, FiniteWaitTimesOut) {
  Events events({FALSE});
  EXPECT_EQ(winapi::WaitForSingleObject(events.handles[0], 20), WAIT_TIMEOUT);
}

TEST(Events, InfiniteWaitEndsWhenAnotherThreadSignals) {
  Events events({FALSE, FALSE});
  std::thread setter([&] { winapi::SetEvent(events.handles[1]); });
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, events.handles.data(), FALSE, INFINITE),
            WAIT_OBJECT_0 + 1);
  setter.join();
}

TEST(Events, PingPongLosesNoSet) {
  // Each side sets the other's auto-reset event and waits for its own: a set that a wait
  // misses shows as a time-out instead of the next turn.
  constexpr int kTurns = 2000;
  Events events({FALSE, FALSE});
  const HANDLE ping = events.handles[0];
  const HANDLE pong = events.handles[1];
  std::atomic<int> answered{0};
  std::thread other([&] {
    for (int i = 0; i < kTurns; ++i) {
      if (winapi::WaitForSingleObject(ping, kLongWaitMs) != WAIT_OBJECT_0) return;
      answered.fetch_add(1);
      winapi::SetEvent(pong);
    }
  });
  int served = 0;
  for (int i = 0; i < kTurns; ++i) {
    winapi::SetEvent(ping);
    if (winapi::WaitForSingleObject(pong, kLongWaitMs) != WAIT_OBJECT_0) break;
    ++served;
  }
  other.join();
  EXPECT_EQ(served, kTurns);
  EXPECT_EQ(answered.load(), kTurns);
}

TEST(Events, CompetingWaitAllsTakeEachPairOnce) {
  // Two threads wait for the same two auto-reset events, listed in opposite orders. Each
  // round sets both; exactly one waiter takes the pair, and never one event of it alone.
  constexpr int kRounds = 500;
  Events events({FALSE, FALSE, FALSE});
  const HANDLE first = events.handles[0];
  const HANDLE second = events.handles[1];
  const HANDLE roundTaken = events.handles[2];
  std::atomic<int> taken{0};
  std::atomic<int> failures{0};
  auto waiter = [&](std::array<HANDLE, 2> pair) {
    for (;;) {
      if (winapi::WaitForMultipleObjects(2, pair.data(), TRUE, kLongWaitMs) != WAIT_OBJECT_0) {
        failures.fetch_add(1);
        return;
      }
      if (taken.fetch_add(1) + 1 > kRounds) return;
      winapi::SetEvent(roundTaken);
    }
  };
  std::thread a(waiter, std::array<HANDLE, 2>{first, second});
  std::thread b(waiter, std::array<HANDLE, 2>{second, first});
  int rounds = 0;
  for (; rounds < kRounds; ++rounds) {
    winapi::SetEvent(first);
    winapi::SetEvent(second);
    if (winapi::WaitForSingleObject(roundTaken, kLongWaitMs) != WAIT_OBJECT_0) break;
  }
  // One more pair for each waiter lets both leave.
  for (int i = 0; i < 2; ++i) {
    winapi::SetEvent(first);
    winapi::SetEvent(second);
    while (taken.load() < kRounds + 1 + i && failures.load() == 0) std::this_thread::yield();
  }
  a.join();
  b.join();
  EXPECT_EQ(rounds, kRounds);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(taken.load(), kRounds + 2);
  EXPECT_EQ(winapi::WaitForSingleObject(first, 0), WAIT_TIMEOUT);
  EXPECT_EQ(winapi::WaitForSingleObject(second, 0), WAIT_TIMEOUT);
}

TEST(Events, WaitsOnBadOrClosedHandlesFail) {
  // Created first: the system may hand a closed handle's value to the next new object.
  Events good({TRUE});
  HANDLE event = winapi::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(winapi::CloseHandle(event));
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(winapi::SetEvent(event));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(winapi::CloseHandle(event));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE mixed[2] = {good.handles[0], event};
  winapi::SetEvent(good.handles[0]);
  EXPECT_EQ(winapi::WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Events, WaitForNothingIsRefused) {
  EXPECT_EQ(winapi::WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(LastError, IsKeptPerThread) {
  // Both threads set their value before either reads it back, with only atomics in between:
  // a shared value would show the other thread's. Starting or joining a thread may itself
  // clear the caller's value on Windows (the thread library's TLS look-ups do), so neither
  // happens between a thread's set and its read.
  std::atomic<int> setCount{0};
  auto setThenRead = [&setCount](DWORD mine) {
    winapi::SetLastError(mine);
    setCount.fetch_add(1);
    while (setCount.load() < 2) {
    }
    return winapi::GetLastError();
  };
  winapi::SetLastError(1234);
  DWORD seenAtStart = 1;
  DWORD seenByOther = 0;
  std::thread other([&] {
    seenAtStart = winapi::GetLastError();
    seenByOther = setThenRead(42);
  });
  const DWORD seenByMain = setThenRead(1234);
  other.join();
  EXPECT_EQ(seenAtStart, 0u);
  EXPECT_EQ(seenByOther, 42u);
  EXPECT_EQ(seenByMain, 1234u);
}

TEST(DebugOutput, ReachesTheSinkUntilItIsRemoved) {
  std::vector<std::string> seen;
  winapi::SetDebugOutputSink([&](std::string_view text) { seen.emplace_back(text); });
  winapi::OutputDebugStringA("first");
  winapi::OutputDebugStringA("second");
  winapi::SetDebugOutputSink({});
  winapi::OutputDebugStringA("unseen");
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
}

}  // namespace
