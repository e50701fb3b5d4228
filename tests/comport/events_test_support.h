// Helpers for the event-thread tests: the test body plays the main thread and serves
// its queue explicitly.
#pragma once

#include "comport/port.h"
#include "port_test_support.h"
#include "runtime/error_display.h"
#include "runtime/main_thread.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace comport::events_testing {

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

inline constexpr std::chrono::seconds kLimit{10};
// How long a check that something does NOT happen keeps the door open for it.
inline constexpr std::chrono::milliseconds kQuietPeriod{200};

// Serves hand-overs and sent messages until `condition` holds or the limit passes.
inline bool PumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kLimit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    const auto now = std::chrono::steady_clock::now();
    if (now > deadline) return false;
    runtime::ProcessMessages();
    // Short slices: the condition may also change on another thread.
    if (!condition()) runtime::WaitForMessages(std::min(deadline, now + 5ms));
  }
  return true;
}

// Serves the queue for the quiet period, for checks that nothing arrives.
inline void PumpFor(std::chrono::milliseconds period) {
  const auto deadline = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < deadline) {
    runtime::ProcessMessages();
    runtime::WaitForMessages(deadline);
  }
  runtime::ProcessMessages();
}

// True once the event thread waits for the main thread (a hand-over or a sent message).
inline bool DeliveryWaiting(std::chrono::milliseconds limit = kLimit) {
  return runtime::WaitForMessages(limit);
}

// Collects what reaches the application's error display; restores the default after.
class DisplayCapture {
 public:
  DisplayCapture() {
    runtime::SetExceptionDisplay([this](const std::string& message) {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    });
  }
  ~DisplayCapture() { runtime::SetExceptionDisplay(nullptr); }
  DisplayCapture(const DisplayCapture&) = delete;
  DisplayCapture& operator=(const DisplayCapture&) = delete;

  Log Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  Log messages_;
};

// A closed port on a virtual line of its own, whose test body is the main thread.
// The log counts RxBuf bytes: these tests check how the events arrive, not the data.
class EventThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::SetMainThread();
    line = testing::LineForThisTest();
    port.SetPort(line->Name());
  }
  // Opens the port and forgets what opening reported.
  void OpenQuietly() {
    port.Open();
    log.Take();
  }

  std::shared_ptr<winapi::VirtualLine> line;
  PortObserver observer;  // outlives the port, which notifies it when closing
  TComPort port{nullptr};
  testing::EventLog log{port, testing::EventLog::RxBufText::Count};
};

}  // namespace comport::events_testing
