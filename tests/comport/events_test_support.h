// Helpers for the event-thread tests: the test body plays the main thread and serves
// its queue explicitly; handlers may run on the event thread, so the log is locked.
#pragma once

#include "comport/port.h"
#include "runtime/error_display.h"
#include "runtime/main_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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

// Every published event of a port as a short text, from any thread.
class LockedLog {
 public:
  explicit LockedLog(TCustomComPort& port) : port_(port) {
    auto note = [this](std::string text) { return [this, text](TObject*) { Add(text); }; };
    auto flag = [this](std::string text) {
      return [this, text](TObject*, bool on) { Add(text + (on ? "(1)" : "(0)")); };
    };
    port.OnBeforeOpen = note("BeforeOpen");
    port.OnAfterOpen = note("AfterOpen");
    port.OnBeforeClose = note("BeforeClose");
    port.OnAfterClose = note("AfterClose");
    port.OnTxEmpty = note("TxEmpty");
    port.OnBreak = note("Break");
    port.OnRing = note("Ring");
    port.OnRxFlag = note("RxFlag");
    port.OnRx80Full = note("Rx80Full");
    port.OnCTSChange = flag("CTS");
    port.OnDSRChange = flag("DSR");
    port.OnRLSDChange = flag("RLSD");
    port.OnRxChar = [this](TObject*, std::int32_t count) {
      Add("RxChar(" + std::to_string(count) + ")");
    };
    port.OnRxBuf = [this](TObject*, const std::uint8_t*, std::int32_t count) {
      Add("RxBuf(" + std::to_string(count) + ")");
    };
    port.OnError = [this](TObject*, TComErrors errors) {
      Add("Error(" + std::to_string(errors.Bits()) + ")");
    };
  }

  // The port may outlive the log (and close itself later): it must not call back.
  ~LockedLog() {
    port_.OnBeforeOpen = port_.OnAfterOpen = port_.OnBeforeClose = port_.OnAfterClose = nullptr;
    port_.OnTxEmpty = port_.OnBreak = port_.OnRing = port_.OnRxFlag = port_.OnRx80Full = nullptr;
    port_.OnCTSChange = port_.OnDSRChange = port_.OnRLSDChange = nullptr;
    port_.OnRxChar = nullptr;
    port_.OnRxBuf = nullptr;
    port_.OnError = nullptr;
  }
  LockedLog(const LockedLog&) = delete;
  LockedLog& operator=(const LockedLog&) = delete;

  void Add(const std::string& text) {
    std::lock_guard lock(mutex_);
    entries_.push_back(text);
    threads_.insert(std::this_thread::get_id());
  }
  Log Take() {
    std::lock_guard lock(mutex_);
    Log out;
    out.swap(entries_);
    return out;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }
  bool Contains(const std::string& text) {
    std::lock_guard lock(mutex_);
    return std::find(entries_.begin(), entries_.end(), text) != entries_.end();
  }
  std::set<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  void ForgetThreads() {
    std::lock_guard lock(mutex_);
    threads_.clear();
  }

 private:
  TCustomComPort& port_;
  std::mutex mutex_;
  Log entries_;
  std::set<std::thread::id> threads_;
};

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

}  // namespace comport::events_testing
