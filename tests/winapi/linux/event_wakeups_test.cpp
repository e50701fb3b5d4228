// A thread waiting on some events must sleep through the setting of any other event: its
// context switches, read from /proc, count each time it was woken.
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr int kForeignSets = 500;

// A thread blocked in one WaitForMultipleObjects without a time-out, seen from outside.
class BlockedWaiter {
 public:
  BlockedWaiter(std::vector<HANDLE> handles, bool waitAll)
      : handles_(std::move(handles)), thread_([this, waitAll] {
          tid_.store(::gettid());
          result_ = winapi::WaitForMultipleObjects(static_cast<DWORD>(handles_.size()),
                                                   handles_.data(), waitAll, INFINITE);
        }) {}
  ~BlockedWaiter() {
    if (thread_.joinable()) thread_.join();
  }

  // The times the thread gave up the processor, one per sleep it was woken from, read once
  // it sleeps in its wait: asleep and unchanged over two reads (the count moves just after
  // the state when the thread goes to sleep). Empty if it never settles (generous limit).
  std::optional<long> SettledSleeps() const {
    const auto limit = std::chrono::steady_clock::now() + 30s;
    std::optional<long> last;
    while (std::chrono::steady_clock::now() < limit) {
      std::optional<long> now;
      if (tid_.load() != 0 && Field("State:").rfind("S", 0) == 0) {
        now = std::stol(Field("voluntary_ctxt_switches:"));
      }
      if (now && now == last) return now;
      last = now;
      std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
  }

  DWORD Result() {
    thread_.join();
    return result_;
  }

 private:
  std::string Field(const std::string& name) const {
    std::ifstream status("/proc/self/task/" + std::to_string(tid_.load()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind(name, 0) == 0) {
        const auto value = line.find_first_not_of(" \t", name.size());
        return value == std::string::npos ? std::string() : line.substr(value);
      }
    }
    ADD_FAILURE() << "no " << name << " for thread " << tid_.load();
    return "0";
  }

  std::vector<HANDLE> handles_;
  std::atomic<pid_t> tid_{0};
  DWORD result_ = WAIT_FAILED;
  std::thread thread_;
};

struct OwnedEvent {
  explicit OwnedEvent(bool manual)
      : handle(winapi::CreateEventA(nullptr, manual, FALSE, nullptr)) {}
  ~OwnedEvent() { winapi::CloseHandle(handle); }
  OwnedEvent(const OwnedEvent&) = delete;
  OwnedEvent& operator=(const OwnedEvent&) = delete;
  HANDLE handle;
};

struct WakeupCase {
  const char* name;
  bool waitAll;
  bool foreignManual;  // how the event set by the busy side resets
};

void PrintTo(const WakeupCase& c, std::ostream* out) {
  *out << c.name;
}

class EventWakeups : public ::testing::TestWithParam<WakeupCase> {};

TEST_P(EventWakeups, WaiterSleepsThroughAnotherEventsSets) {
  const WakeupCase& c = GetParam();
  OwnedEvent own1(false);
  OwnedEvent own2(true);
  OwnedEvent foreign(c.foreignManual);
  BlockedWaiter waiter({own1.handle, own2.handle}, c.waitAll);
  const std::optional<long> before = waiter.SettledSleeps();
  ASSERT_TRUE(before);

  for (int i = 0; i < kForeignSets; ++i) {
    ASSERT_TRUE(winapi::SetEvent(foreign.handle));
    // Every set is a real change of state: the busy side takes the event back each time.
    if (c.foreignManual) {
      ASSERT_TRUE(winapi::ResetEvent(foreign.handle));
    } else {
      ASSERT_EQ(winapi::WaitForSingleObject(foreign.handle, 0), WAIT_OBJECT_0);
    }
  }
  // A thread woken by mistake runs and goes back to sleep; once it sleeps again, each such
  // wake-up shows in its count.
  EXPECT_EQ(waiter.SettledSleeps(), before);

  // Its own events still reach it.
  winapi::SetEvent(own2.handle);
  if (c.waitAll) winapi::SetEvent(own1.handle);
  EXPECT_EQ(waiter.Result(), c.waitAll ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, EventWakeups,
                         ::testing::Values(WakeupCase{"AnyWhileAutoResetIsSet", false, false},
                                           WakeupCase{"AnyWhileManualResetIsSet", false, true},
                                           WakeupCase{"AllWhileAutoResetIsSet", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EventWakeupsOwn, SettingAnAlreadySignalledEventWakesNobody) {
  // A wait-all is woken by the first of its events, then sleeps on for the second one;
  // setting the first again changes nothing it waits for.
  OwnedEvent first(true);
  OwnedEvent second(true);
  BlockedWaiter waiter({first.handle, second.handle}, true);
  ASSERT_TRUE(waiter.SettledSleeps());
  winapi::SetEvent(first.handle);
  const std::optional<long> before = waiter.SettledSleeps();
  ASSERT_TRUE(before);
  for (int i = 0; i < kForeignSets; ++i) ASSERT_TRUE(winapi::SetEvent(first.handle));
  EXPECT_EQ(waiter.SettledSleeps(), before);
  winapi::SetEvent(second.handle);
  EXPECT_EQ(waiter.Result(), WAIT_OBJECT_0);
}

}  // namespace
