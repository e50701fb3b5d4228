#include "runtime/termination_signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace runtime {
namespace {

TEST(TerminationSignals, ASignalIsWaitedForAndCancelEndsEveryWait) {
  const TerminationSignals signals;
  // Blocked, so it stays pending for the signalfd instead of ending the test.
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_EQ(signals.Wait(), SIGHUP);
  std::thread canceller([&] { signals.Cancel(); });
  EXPECT_EQ(signals.Wait(), std::nullopt);
  canceller.join();
  EXPECT_EQ(signals.Wait(), std::nullopt);
}

}  // namespace
}  // namespace runtime
