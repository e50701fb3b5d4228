#include "lines/terminal/linux/terminal_line.h"
#include "terminal_test_pty.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <numeric>
#include <sstream>
#include <thread>

namespace winapi::driver {
namespace {

using testing::PtyPeer;
using testing::WaitFor;

// Stands in for the driver: counts what the line reports; the test pulls the bytes.
class RecordingSink : public LineSink {
 public:
  void OnReceiveReady() override { Bump(receiveReady_); }
  void OnTransmitReady() override { Bump(transmitReady_); }
  void OnModemStatus(DWORD, DWORD) override { Bump(modemChanges_); }
  void OnLineErrors(DWORD) override { Bump(lineErrors_); }
  void OnBreak() override { Bump(breaks_); }
  void OnGone(DWORD windowsError) override {
    std::lock_guard lock(mutex_);
    goneError_ = windowsError;
    changed_.notify_all();
  }

  int ReceiveReady() const { return Read(receiveReady_); }
  int TransmitReady() const { return Read(transmitReady_); }
  int OtherReports() const {
    std::lock_guard lock(mutex_);
    return modemChanges_ + lineErrors_ + breaks_;
  }
  DWORD GoneError() const {
    std::lock_guard lock(mutex_);
    return goneError_;
  }

  // Waits until `counter` passes `seen`; false after the limit.
  bool WaitBeyond(int RecordingSink::*counter, int seen) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      return this->*counter > seen || goneError_ != 0;
    }) && this->*counter > seen;
  }
  bool WaitGone() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return goneError_ != 0; });
  }

  int receiveReady_ = 0;
  int transmitReady_ = 0;

 private:
  void Bump(int& counter) {
    std::lock_guard lock(mutex_);
    ++counter;
    changed_.notify_all();
  }
  int Read(const int& counter) const {
    std::lock_guard lock(mutex_);
    return counter;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int modemChanges_ = 0;
  int lineErrors_ = 0;
  int breaks_ = 0;
  DWORD goneError_ = 0;
};

DCB RawDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 19200;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// Pulls what the line holds, as the driver does after OnReceiveReady.
std::vector<std::uint8_t> Pull(Line& line) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[7];
  for (;;) {
    const std::size_t got = line.Receive(chunk);
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) return bytes;
  }
}

class TerminalLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD error = 0;
    line_ = TerminalLine::Open(peer_.SlavePath(), error);
    ASSERT_NE(line_, nullptr) << "error " << error;
    ASSERT_EQ(line_->ApplyState(RawDcb()), static_cast<DWORD>(ERROR_SUCCESS));
    line_->Start(sink_);
  }
  void TearDown() override {
    if (line_) line_->Stop();
  }

  std::vector<std::uint8_t> Pull() { return driver::Pull(*line_); }

  PtyPeer peer_;
  RecordingSink sink_;
  std::unique_ptr<Line> line_;
};

TEST_F(TerminalLineTest, ReceivedBurstsAreAnnouncedOnceEachAndPulledInOrder) {
  std::vector<std::uint8_t> received;
  for (std::uint8_t burst = 0; burst < 3; ++burst) {
    const int seen = sink_.ReceiveReady();
    std::vector<std::uint8_t> bytes(20);
    std::iota(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(burst * 20));
    peer_.Send(bytes);
    ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, seen));
    // Until the driver drains the line, no further announcement is due.
    EXPECT_EQ(sink_.ReceiveReady(), seen + 1);
    ASSERT_TRUE(WaitFor([&] {
      const auto more = Pull();
      received.insert(received.end(), more.begin(), more.end());
      return received.size() == (burst + 1) * 20u;
    }));
  }
  std::vector<std::uint8_t> expected(60);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(received, expected);
}

TEST_F(TerminalLineTest, BytesWaitInTheLineWhileTheDriverHasNoRoom) {
  const std::vector<std::uint8_t> first{'a', 'b', 'c'};
  peer_.Send(first);
  ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, 0));
  // The driver does not pull yet; more arrives meanwhile.
  const std::vector<std::uint8_t> second{'d', 'e'};
  peer_.Send(second);
  std::vector<std::uint8_t> received;
  ASSERT_TRUE(WaitFor([&] {
    const auto more = Pull();
    received.insert(received.end(), more.begin(), more.end());
    return received.size() >= 5;
  }));
  EXPECT_EQ(received, (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e'}));
  // Drained: the next byte is announced again.
  const int seen = sink_.ReceiveReady();
  peer_.Send({'f'});
  ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, seen));
  ASSERT_TRUE(WaitFor([&] { return Pull() == std::vector<std::uint8_t>{'f'}; }));
}

TEST_F(TerminalLineTest, ALargeTransmissionGoesOutWholeThroughTransmitReady) {
  std::vector<std::uint8_t> data(256 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  // Nobody reads yet, so the pty's buffer fills and the line must take a part only.
  int seen = sink_.TransmitReady();
  std::size_t offset = line_->Transmit(std::span(data));
  ASSERT_LT(offset, data.size()) << "the pty buffer should have filled up";
  std::vector<std::uint8_t> arrived;
  std::thread reader([&] { arrived = peer_.Receive(data.size(), std::chrono::seconds(60)); });
  while (offset < data.size()) {
    if (!sink_.WaitBeyond(&RecordingSink::transmitReady_, seen)) {
      ADD_FAILURE() << "no transmit-ready report at " << offset;
      break;
    }
    seen = sink_.TransmitReady();
    offset += line_->Transmit(std::span(data).subspan(offset));
  }
  reader.join();
  EXPECT_EQ(arrived, data);
  EXPECT_EQ(sink_.OtherReports(), 0);
}

TEST_F(TerminalLineTest, PurgeDiscardsBytesNotYetPulled) {
  peer_.Send({1, 2, 3});
  ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, 0));
  line_->Purge(PURGE_RXCLEAR);
  EXPECT_TRUE(Pull().empty());
  const int seen = sink_.ReceiveReady();
  peer_.Send({4});
  ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, seen));
  ASSERT_TRUE(WaitFor([&] { return Pull() == std::vector<std::uint8_t>{4}; }));
}

TEST_F(TerminalLineTest, TheFarSideGoingAwayEndsTheLine) {
  peer_.CloseMaster();
  ASSERT_TRUE(sink_.WaitGone());
  EXPECT_EQ(sink_.GoneError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  const std::uint8_t byte = 0x55;
  EXPECT_EQ(line_->Transmit(std::span(&byte, 1)), 0u);
  EXPECT_TRUE(Pull().empty());
  EXPECT_EQ(line_->ApplyState(RawDcb()), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(line_->ModemStatus(), 0u);
}

TEST_F(TerminalLineTest, AStalledTransmissionEndsWhenTheFarSideGoes) {
  std::vector<std::uint8_t> data(1024 * 1024, 0xA5);
  std::size_t offset = 0;
  while (offset < data.size()) {
    const std::size_t taken = line_->Transmit(std::span(data).subspan(offset));
    if (taken == 0) break;
    offset += taken;
  }
  ASSERT_LT(offset, data.size());
  peer_.CloseMaster();
  ASSERT_TRUE(sink_.WaitGone());
  EXPECT_EQ(sink_.GoneError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

// Voluntary and involuntary context switches plus CPU ticks of one thread of this process.
std::string ThreadActivity(int tid) {
  const std::string dir = "/proc/self/task/" + std::to_string(tid);
  std::ifstream status(dir + "/status");
  std::string line;
  std::ostringstream activity;
  while (std::getline(status, line)) {
    if (line.find("ctxt_switches") != std::string::npos) activity << line << "; ";
  }
  std::ifstream stat(dir + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14 || index == 15) activity << field << ' ';
  }
  return activity.str();
}

TEST_F(TerminalLineTest, TheWorkerSleepsWhileTheLineIsQuiet) {
  auto* terminal = dynamic_cast<TerminalLine*>(line_.get());
  ASSERT_NE(terminal, nullptr);
  ASSERT_TRUE(WaitFor([&] { return terminal->WorkerThreadId() != 0; }));
  const int tid = terminal->WorkerThreadId();
  // Some traffic first, so that the worker has been through its loop.
  peer_.Send({1});
  ASSERT_TRUE(sink_.WaitBeyond(&RecordingSink::receiveReady_, 0));
  ASSERT_TRUE(WaitFor([&] { return Pull().size() == 1; }));

  // Settled: two looks 200 ms apart agree.
  std::string before = ThreadActivity(tid);
  ASSERT_TRUE(WaitFor([&] {
    ::usleep(200 * 1000);
    const std::string now = ThreadActivity(tid);
    const bool settled = now == before;
    before = now;
    return settled;
  }));
  ASSERT_NE(before.find("ctxt_switches"), std::string::npos) << before;
  // A thread blocked in poll is never scheduled: no switch, no CPU tick in 2 s.
  ::sleep(2);
  EXPECT_EQ(ThreadActivity(tid), before);
}

// The state letter of one thread of this process ('S' while it sleeps).
char ThreadState(int tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto end = text.rfind(')');
  return end == std::string::npos || end + 2 >= text.size() ? '?' : text[end + 2];
}

// Stands in for the driver with a pending wait: input completes the wait by setting its
// event, and the sink notes which threads heard of the input.
class CompletingSink : public RecordingSink {
 public:
  explicit CompletingSink(HANDLE event) : event_(event) {}
  void OnReceiveReady() override {
    {
      std::lock_guard lock(mutex_);
      callers_.insert(static_cast<int>(::gettid()));
    }
    RecordingSink::OnReceiveReady();
    SetEvent(event_);
  }
  bool HeardOn(int tid) {
    std::lock_guard lock(mutex_);
    return callers_.count(tid) > 0;
  }

 private:
  HANDLE event_;
  std::mutex mutex_;
  std::set<int> callers_;
};

class TerminalInputWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(event_, nullptr);
    DWORD error = 0;
    line_ = TerminalLine::Open(peer_.SlavePath(), error);
    ASSERT_NE(line_, nullptr) << "error " << error;
    ASSERT_EQ(line_->ApplyState(RawDcb()), static_cast<DWORD>(ERROR_SUCCESS));
    line_->Start(sink_);
    line_->SetInputWaitEvent(event_);
  }
  void TearDown() override {
    if (line_) line_->Stop();
    CloseHandle(event_);
  }

  // A thread waiting on the event, asleep once the call returns.
  std::future<DWORD> SleepingWaiter() {
    auto result = std::async(std::launch::async, [this] {
      waiterTid_ = static_cast<int>(::gettid());
      return WaitForSingleObject(event_, 10000);
    });
    EXPECT_TRUE(WaitFor([&] { return waiterTid_ != 0 && ThreadState(waiterTid_) == 'S'; }));
    return result;
  }

  PtyPeer peer_;
  HANDLE event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CompletingSink sink_{event_};
  std::unique_ptr<TerminalLine> line_;
  std::atomic<int> waiterTid_{0};
};

// The waiter polls the terminal itself: it hears of the input on its own thread, with no
// other thread in between (the worker may hear of it as well).
TEST_F(TerminalInputWaitTest, AThreadWaitingOnTheEventHearsOfInputItself) {
  auto result = SleepingWaiter();
  peer_.Send({0x55});
  ASSERT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(sink_.HeardOn(waiterTid_));
  ASSERT_TRUE(WaitFor([&] { return Pull(*line_) == std::vector<std::uint8_t>{0x55}; }));
}

// Stop wakes a waiter out of its watch and returns; the waiter then waits on as usual.
TEST_F(TerminalInputWaitTest, StopEndsAWatchInProgress) {
  auto result = SleepingWaiter();
  line_->Stop();
  peer_.Send({0x55});
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  EXPECT_FALSE(sink_.HeardOn(waiterTid_));
  SetEvent(event_);
  EXPECT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));
}

// Once the wait is no longer pending, waiters no longer watch.
TEST_F(TerminalInputWaitTest, AWithdrawnEventIsNotWatched) {
  line_->SetInputWaitEvent(nullptr);
  auto result = SleepingWaiter();
  peer_.Send({0x55});
  ASSERT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));  // set by the worker's report
  EXPECT_FALSE(sink_.HeardOn(waiterTid_));
  EXPECT_TRUE(sink_.HeardOn(line_->WorkerThreadId()));
}

TEST(TerminalLineLifeTest, StopsWithoutStartAndTwice) {
  PtyPeer peer;
  DWORD error = 0;
  auto line = TerminalLine::Open(peer.SlavePath(), error);
  ASSERT_NE(line, nullptr);
  line->Stop();
  line->Stop();
  line.reset();
  RecordingSink sink;
  auto started = TerminalLine::Open(peer.SlavePath(), error);
  ASSERT_NE(started, nullptr) << error;
  started->Start(sink);
  started->Stop();
  started->Stop();
  EXPECT_EQ(sink.GoneError(), 0u);
}

TEST(TerminalLineLifeTest, OpenReportsWindowsErrors) {
  PtyPeer peer;
  DWORD error = 0;
  auto line = TerminalLine::Open(peer.SlavePath(), error);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(TerminalLine::Open(peer.SlavePath(), error), nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(TerminalLine::Open("/dev/null", error), nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(TerminalLine::Open("/dev/no-such-tty", error), nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace winapi::driver
