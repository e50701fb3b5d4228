#include "lines/terminal/linux/terminal_modem_watch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <utility>

#include <pthread.h>
#include <sys/ioctl.h>

namespace winapi {

namespace {

int WakeSignal() {
  return SIGRTMIN + 5;
}

void IgnoreWake(int) {}

// The handler is installed once and never removed: a late signal must never find the
// default action, which ends the process.
void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = IgnoreWake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait must return EINTR
    sigaction(WakeSignal(), &action, nullptr);
  });
}

}  // namespace

ModemWatch::ModemWatch(int fd, std::function<void()> onChange)
    : fd_(fd), onChange_(std::move(onChange)) {
  InstallWakeHandler();
  thread_ = std::thread([this] { Run(); });
}

ModemWatch::~ModemWatch() {
  stopping_ = true;
  std::unique_lock lock(mutex_);
  // The signal can land just before the thread enters the ioctl; then it is sent again.
  while (!hasEnded_) {
    pthread_kill(thread_.native_handle(), WakeSignal());
    ended_.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  thread_.join();
}

void ModemWatch::Run() {
  const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR;
  while (!stopping_) {
    if (::ioctl(fd_, TIOCMIWAIT, lines) == 0) {
      onChange_();
    } else if (errno != EINTR) {
      break;  // the device went away; the poll worker reports that
    }
  }
  std::lock_guard lock(mutex_);
  hasEnded_ = true;
  ended_.notify_all();
}

}  // namespace winapi
