#include "gui_qt/close_on_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace gui_qt {
namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// Written by the handler: the only thing a signal handler may safely do here.
volatile std::sig_atomic_t g_writeEnd = -1;

void OnSignal(int) {
  if (g_writeEnd < 0) return;
  const char byte = 1;
  const int savedErrno = errno;
  [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

struct CloseOnSignals::Saved {
  std::array<struct sigaction, kSignals.size()> actions{};
};

CloseOnSignals::CloseOnSignals(QWidget& window) : saved_(std::make_unique<Saved>()) {
  if (g_writeEnd >= 0) throw std::logic_error("CloseOnSignals is already installed");
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("Cannot create the signal pipe");
  }
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, &window, [this, &window] {
    char bytes[16];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  g_writeEnd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &action, &saved_->actions[i]);
  }
}

CloseOnSignals::~CloseOnSignals() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &saved_->actions[i], nullptr);
  }
  g_writeEnd = -1;
  notifier_.reset();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

}  // namespace gui_qt
