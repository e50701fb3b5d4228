// Waits on an event that offers a wait source: the waiting thread watches the source's
// descriptor itself and runs its work, while the event's other ways to end a wait hold.
#include "driver/linux/event_object.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace winapi::events {
namespace {

constexpr DWORD kLongWaitMs = 10000;

// A pipe as the device: its work reads one byte and sets the event, noting the thread.
class PipeSource final : public WaitSource {
 public:
  explicit PipeSource(HANDLE event) : event_(event) {
    EXPECT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
  }
  ~PipeSource() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;

  int BeginWatch(WaitBlock&) override {
    ++watches;
    return offered ? fds_[0] : -1;
  }
  void OnReady(short) override {
    std::uint8_t byte = 0;
    if (::read(fds_[0], &byte, 1) == 1) {
      workThread = std::this_thread::get_id();
      ++works;
      winapi::SetEvent(event_);
    }
  }
  void EndWatch(WaitBlock&) override {}

  void Send() { ASSERT_EQ(::write(fds_[1], "x", 1), 1); }

  std::atomic<bool> offered{true};
  std::atomic<int> watches{0};
  std::atomic<int> works{0};
  std::thread::id workThread;  // written before the event is set

 private:
  HANDLE event_;
  int fds_[2] = {-1, -1};
};

class WaitSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = winapi::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(handle_, nullptr);
    source_ = std::make_shared<PipeSource>(handle_);
    EventOf(handle_)->SetSource(source_);
  }
  void TearDown() override { winapi::CloseHandle(handle_); }

  // Waits on the event on a thread of its own; true once that thread has begun a watch.
  std::future<DWORD> WaitElsewhere(DWORD milliseconds = kLongWaitMs) {
    const int before = source_->watches.load();
    auto result = std::async(std::launch::async, [this, milliseconds] {
      waiter_ = std::this_thread::get_id();
      return winapi::WaitForSingleObject(handle_, milliseconds);
    });
    EXPECT_TRUE(WaitUntilWatched(before));
    return result;
  }
  bool WaitUntilWatched(int before) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (source_->watches.load() == before) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::yield();
    }
    return true;
  }

  HANDLE handle_ = nullptr;
  std::shared_ptr<PipeSource> source_;
  std::thread::id waiter_;
};

TEST_F(WaitSourceTest, TheWaiterRunsTheWorkItselfAndWakesFromTheDevice) {
  auto result = WaitElsewhere();
  source_->Send();
  ASSERT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(source_->works.load(), 1);
  EXPECT_EQ(source_->workThread, waiter_);
}

TEST_F(WaitSourceTest, SettingTheEventWakesAWaiterThatWatches) {
  auto result = WaitElsewhere();
  ASSERT_TRUE(winapi::SetEvent(handle_));
  EXPECT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(source_->works.load(), 0);
}

TEST_F(WaitSourceTest, AWatchingWaitEndsAtItsTimeOut) {
  EXPECT_EQ(winapi::WaitForSingleObject(handle_, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GT(source_->watches.load(), 0);
  EXPECT_EQ(source_->works.load(), 0);
}

TEST_F(WaitSourceTest, WithNothingToWatchTheWaitIsThePlainOne) {
  source_->offered = false;
  auto result = WaitElsewhere();
  source_->Send();  // not watched: the byte stays in the pipe
  EXPECT_EQ(winapi::WaitForSingleObject(handle_, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(winapi::SetEvent(handle_));
  EXPECT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(source_->works.load(), 0);
}

TEST_F(WaitSourceTest, ADroppedSourceIsNotWatchedByLaterWaits) {
  EventOf(handle_)->DropSource(source_.get());
  source_->Send();
  EXPECT_EQ(winapi::WaitForSingleObject(handle_, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(source_->watches.load(), 0);
  // Dropping a source that is no longer the event's leaves the present one.
  EventOf(handle_)->SetSource(source_);
  EventOf(handle_)->DropSource(nullptr);
  EXPECT_EQ(winapi::WaitForSingleObject(handle_, kLongWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(source_->works.load(), 1);
}

// A wait on several events watches the sources of all of them.
TEST_F(WaitSourceTest, AWaitOnSeveralEventsWatchesEachOnesSource) {
  const HANDLE other = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(other, nullptr);
  const HANDLE both[2] = {other, handle_};
  const int before = source_->watches.load();
  auto result = std::async(std::launch::async, [&] {
    return winapi::WaitForMultipleObjects(2, both, FALSE, kLongWaitMs);
  });
  ASSERT_TRUE(WaitUntilWatched(before));
  source_->Send();
  EXPECT_EQ(result.get(), static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  winapi::CloseHandle(other);
}

}  // namespace
}  // namespace winapi::events
