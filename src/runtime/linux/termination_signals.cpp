#include "runtime/termination_signals.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace runtime {

namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

TerminationSignals::TerminationSignals() {
  const sigset_t set = TerminationSet();
  if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_sigmask");
  }
  fd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  cancel_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (cancel_ < 0) {
    const int error = errno;
    ::close(fd_);
    throw std::system_error(error, std::generic_category(), "eventfd");
  }
}

TerminationSignals::~TerminationSignals() {
  ::close(cancel_);
  ::close(fd_);
}

std::optional<int> TerminationSignals::Wait() const {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    // The eventfd is never read: once cancelled, every later Wait ends at once too.
    if (fds[1].revents) return std::nullopt;
    signalfd_siginfo info{};
    const ssize_t got = ::read(fd_, &info, sizeof info);
    if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (got < 0 && errno != EINTR && errno != EAGAIN) {
      throw std::system_error(errno, std::generic_category(), "signalfd read");
    }
  }
}

void TerminationSignals::Cancel() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(cancel_, &one, sizeof one);
}

}  // namespace runtime
