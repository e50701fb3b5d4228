// Helpers shared by the port tests: a virtual line per test and a log of what the
// port reported, in order, from whichever thread reported it.
#pragma once

#include "comport/port.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace comport::testing {

// A line named after the running test, so tests never share one.
inline std::shared_ptr<winapi::VirtualLine> LineForThisTest(const std::string& suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return winapi::VirtualLine::Create(std::string("VL_") + info->test_suite_name() + "_" +
                                     info->name() + suffix);
}

// Records every published event and every observer callback as a short text. Handlers
// may run on the event thread, so the log is locked and notes which threads wrote to it.
class EventLog {
 public:
  // How an RxBuf event is written: with its bytes, or with only their count.
  enum class RxBufText { Bytes, Count };

  explicit EventLog(TCustomComPort& port, RxBufText rxBufText = RxBufText::Bytes) : port_(port) {
    auto note = [this](const std::string& text) { return [this, text](TObject*) { Add(text); }; };
    auto flag = [this](const std::string& text) {
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
    port.OnRxBuf = [this, rxBufText](TObject*, const std::uint8_t* buffer, std::int32_t count) {
      Add("RxBuf(" +
          (rxBufText == RxBufText::Bytes ? Bytes(buffer, count) : std::to_string(count)) + ")");
    };
    port.OnError = [this](TObject*, TComErrors errors) {
      Add("Error(" + std::to_string(errors.Bits()) + ")");
    };

    observer.ConnectionChanged = flag("obs.Connection");
    observer.BytesSent = [this](TObject*, const std::uint8_t* buffer, std::int32_t count) {
      Add("obs.BytesSent(" + Bytes(buffer, count) + ")");
    };
    observer.TxEmptied = note("obs.TxEmptied");
    observer.RxFlagSeen = note("obs.RxFlagSeen");
    observer.CtsChanged = flag("obs.CTS");
    observer.DsrChanged = flag("obs.DSR");
    observer.RlsdChanged = flag("obs.RLSD");
    observer.RingSeen = note("obs.Ring");
    observer.TxActivity = flag("obs.Tx");
    observer.RxActivity = flag("obs.Rx");
  }

  // A port that outlives the log (and closes itself later) reports nothing more to it.
  ~EventLog() {
    if (observing_) port_.RemoveObserver(&observer);
    port_.OnBeforeOpen = port_.OnAfterOpen = port_.OnBeforeClose = port_.OnAfterClose = nullptr;
    port_.OnTxEmpty = port_.OnBreak = port_.OnRing = port_.OnRxFlag = port_.OnRx80Full = nullptr;
    port_.OnCTSChange = port_.OnDSRChange = port_.OnRLSDChange = nullptr;
    port_.OnRxChar = nullptr;
    port_.OnRxBuf = nullptr;
    port_.OnError = nullptr;
  }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Registers the observer record (without BytesReceived unless the test sets it).
  void Observe() {
    port_.AddObserver(&observer);
    observing_ = true;
  }

  void Add(const std::string& text) {
    std::lock_guard lock(mutex_);
    entries.push_back(text);
    threads_.insert(std::this_thread::get_id());
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.swap(entries);
    return out;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return entries.size();
  }
  bool Contains(const std::string& text) {
    std::lock_guard lock(mutex_);
    return std::find(entries.begin(), entries.end(), text) != entries.end();
  }
  std::set<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  void ForgetThreads() {
    std::lock_guard lock(mutex_);
    threads_.clear();
  }

  static std::string Bytes(const std::uint8_t* buffer, std::int32_t count) {
    std::string out;
    for (std::int32_t i = 0; i < count; ++i) {
      if (i) out += ' ';
      out += std::to_string(buffer[i]);
    }
    return out;
  }

  PortObserver observer;
  std::vector<std::string> entries;  // read directly only while no other thread reports

 private:
  TCustomComPort& port_;
  bool observing_ = false;
  std::mutex mutex_;
  std::set<std::thread::id> threads_;
};

// Polls `condition` until it holds or a generous limit passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// An open port on a virtual line, without an event thread, so nothing but the test
// touches the receive queue; the log's observer is registered.
class OpenPortWithoutEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    line = LineForThisTest();
    port.SetPort(line->Name());
    port.SetEvents({});
    port.Open();
    log.Take();
    log.Observe();
  }

  // Puts `bytes` on the line and waits until the port's receive queue holds them.
  void InjectAndWait(std::initializer_list<std::uint8_t> bytes) {
    const std::int32_t before = port.RxQueueCount();
    line->Inject(bytes);
    ASSERT_TRUE(WaitUntil(
        [&] { return port.RxQueueCount() == before + static_cast<std::int32_t>(bytes.size()); }));
  }

  std::shared_ptr<winapi::VirtualLine> line;
  TComPort port{nullptr};
  EventLog log{port};
};

// Runs `action` and returns the EComPortExt it raised; fails the test if none.
template <typename Action>
EComPortExt ExpectPortExtError(Action action) {
  try {
    action();
  } catch (const EComPortExt& error) {
    return error;
  } catch (const std::exception& error) {
    ADD_FAILURE() << "wrong error: " << error.what();
    return EComPortExt("", 0, 0);
  }
  ADD_FAILURE() << "no error raised";
  return EComPortExt("", 0, 0);
}

using Calls = std::vector<winapi::DriverCall>;

inline Calls CallsOf(const std::vector<winapi::DriverRecord>& records) {
  Calls calls;
  for (const auto& record : records) calls.push_back(record.call);
  return calls;
}

inline DWORD FlagWord(const DCB& dcb) {
  DWORD word;
  static_assert(sizeof(DCB) >= 12);
  std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
  return word;
}

}  // namespace comport::testing
