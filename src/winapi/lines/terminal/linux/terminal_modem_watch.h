// Waits for modem input line changes of a UART (TIOCMIWAIT) on a thread of its own,
// since that ioctl blocks and cannot be part of a poll.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace winapi {

class ModemWatch {
 public:
  // Starts waiting on `fd` (which must support TIOCMIWAIT); `onChange` runs on the
  // watch thread after every change and must not block.
  ModemWatch(int fd, std::function<void()> onChange);
  // Interrupts the wait with a signal of its own (SIGRTMIN + 5, whose handler does
  // nothing) and joins the thread.
  ~ModemWatch();
  ModemWatch(const ModemWatch&) = delete;
  ModemWatch& operator=(const ModemWatch&) = delete;

 private:
  void Run();

  int fd_;
  std::function<void()> onChange_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable ended_;
  bool hasEnded_ = false;
  std::thread thread_;
};

}  // namespace winapi
