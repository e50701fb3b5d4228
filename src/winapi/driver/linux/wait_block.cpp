#include "driver/linux/wait_block.h"

#include "winapi/owned_fd.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace winapi::events {
namespace {

using Clock = std::chrono::steady_clock;

// An eventfd per thread that ever polls, kept for the thread's life: a wait on a watched
// event costs no descriptor of its own.
int ThreadWakeDescriptor() {
  thread_local const OwnedFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  return wake.Get();
}

// Clears wake-ups meant for an earlier sleep of this thread.
void Drain(int fd) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(fd, &count, sizeof count);
}

// Null for no limit; a passed deadline gives zero.
std::optional<timespec> TimeLeft(const WaitBlock::Deadline& deadline) {
  if (!deadline) return std::nullopt;
  const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

void WaitBlock::Arm() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

void WaitBlock::Wake() {
  int pollFd = -1;
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    pollFd = pollWakeFd_;
  }
  if (pollFd < 0) {
    woken_.notify_one();
    return;
  }
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] const ssize_t ignored = ::write(pollFd, &one, sizeof one);
}

bool WaitBlock::Sleep(const Deadline& deadline, const Sources& sources) {
  if (!sources.empty()) {
    if (const auto woken = SleepInPoll(deadline, sources)) return *woken;
  }
  return SleepOnCondition(deadline);
}

bool WaitBlock::SleepOnCondition(const Deadline& deadline) {
  std::unique_lock lock(mutex_);
  if (!deadline) {
    woken_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return woken_.wait_until(lock, *deadline, [this] { return signalled_; });
}

std::optional<bool> WaitBlock::SleepInPoll(const Deadline& deadline, const Sources& sources) {
  const int wakeFd = ThreadWakeDescriptor();
  if (wakeFd < 0) return std::nullopt;
  std::vector<pollfd> fds{{wakeFd, POLLIN, 0}};
  std::vector<WaitSource*> watching;
  for (const auto& source : sources) {
    const int fd = source->BeginWatch(*this);
    if (fd < 0) continue;
    fds.push_back({fd, POLLIN, 0});
    watching.push_back(source.get());
  }
  if (watching.empty()) return std::nullopt;

  Drain(wakeFd);
  bool woken = true;
  std::unique_lock lock(mutex_);
  if (!signalled_) {
    pollWakeFd_ = wakeFd;
    lock.unlock();
    const auto left = TimeLeft(deadline);
    const int ready = ::ppoll(fds.data(), fds.size(), left ? &*left : nullptr, nullptr);
    woken = ready != 0;  // an interrupted poll counts as woken: the caller checks again
    lock.lock();
    pollWakeFd_ = -1;
  }
  lock.unlock();
  for (std::size_t i = 0; i < watching.size(); ++i) {
    if (fds[i + 1].revents != 0) watching[i]->OnReady(fds[i + 1].revents);
  }
  for (WaitSource* source : watching) source->EndWatch(*this);
  return woken;
}

}  // namespace winapi::events
