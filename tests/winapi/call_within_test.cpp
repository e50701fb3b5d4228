#include "lines/network/common/call_within.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

namespace winapi::driver {
namespace {

using namespace std::chrono_literals;

struct Counted {
  static inline std::atomic<int> freed{0};
  int value = 0;
  ~Counted() { ++freed; }
};

// A call that answers in time gives its result; one that does not is left behind at the
// deadline, and what it produces later is freed all the same.
TEST(CallWithin, GivesTheResultInTimeAndAbandonsACallThatIsLate) {
  const auto answered =
      CallWithin<Counted>([](Counted& c) { c.value = 7; }, std::chrono::steady_clock::now() + 60s);
  ASSERT_NE(answered, nullptr);
  EXPECT_EQ(answered->value, 7);

  std::promise<void> release;
  auto released = release.get_future().share();
  const int freedBefore = Counted::freed;
  const auto late = CallWithin<Counted>([released](Counted&) { released.wait(); },
                                        std::chrono::steady_clock::now() + 50ms);
  EXPECT_EQ(late, nullptr);
  release.set_value();
  const auto limit = std::chrono::steady_clock::now() + 60s;
  while (Counted::freed == freedBefore && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Counted::freed, freedBefore + 1);
}

}  // namespace
}  // namespace winapi::driver
