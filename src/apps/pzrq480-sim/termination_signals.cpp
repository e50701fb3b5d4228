#include "termination_signals.h"

#include <cerrno>
#include <csignal>
#include <system_error>

#include <sys/signalfd.h>
#include <unistd.h>

namespace sim {

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
}

TerminationSignals::~TerminationSignals() {
  ::close(fd_);
}

int TerminationSignals::Wait() const {
  signalfd_siginfo info{};
  for (;;) {
    const ssize_t got = ::read(fd_, &info, sizeof info);
    if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (got < 0 && errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "signalfd read");
  }
}

}  // namespace sim
