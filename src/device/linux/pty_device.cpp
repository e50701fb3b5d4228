#include "device/pty_device.h"

#include "common/device_session.h"
#include "common/thread_priority.h"
#include "linux/pty_master.h"
#include "winapi/owned_fd.h"

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>

namespace device {

namespace {

// Without inotify a hung-up master is checked this often for a port opening again.
constexpr int kReopenCheckMs = 20;

void Drain(int fd) {
  std::uint8_t buffer[4096];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

struct PtyDevice::Worker {
  PtyMaster master;
  // Opens of the slave path: a hung-up master reports nothing until the port is back, and
  // polling it would only repeat the hang-up.
  winapi::OwnedFd opens;
  winapi::OwnedFd wake;
  std::atomic<bool> stop{false};
  std::thread thread;

  void Serve(DeviceSession& session);
};

PtyDevice::PtyDevice(DeviceState initial)
    : EmulatedDevice(initial), worker_(std::make_unique<Worker>()) {
  slavePath_ = worker_->master.SlavePath();
  worker_->wake = winapi::OwnedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!worker_->wake.Valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
  worker_->opens = winapi::OwnedFd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (worker_->opens.Valid() &&
      ::inotify_add_watch(worker_->opens.Get(), slavePath_.c_str(), IN_OPEN) < 0) {
    worker_->opens = winapi::OwnedFd();
  }
  Session().SetLineRate(worker_->master.Rate());
  worker_->thread = std::thread([this] { worker_->Serve(Session()); });
}

PtyDevice::~PtyDevice() {
  worker_->stop = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(worker_->wake.Get(), &one, sizeof one);
  worker_->thread.join();
}

void PtyDevice::Worker::Serve(DeviceSession& session) {
  RaiseCurrentThreadPriority();
  bool hungUp = false;
  bool unplugged = false;
  while (!stop) {
    const auto deadline = session.NextDeadline();
    int timeout = -1;
    if (deadline) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
    }
    if (hungUp && !opens.Valid() && (timeout < 0 || timeout > kReopenCheckMs)) {
      timeout = kReopenCheckMs;
    }
    if (unplugged) timeout = -1;
    pollfd fds[3] = {{wake.Get(), POLLIN, 0},
                     {hungUp || unplugged ? -1 : master.Fd(), POLLIN, 0},
                     {unplugged ? -1 : opens.Get(), POLLIN, 0}};
    if (::poll(fds, 3, timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents) Drain(wake.Get());
    if (stop) break;
    if (unplugged) continue;
    if (fds[2].revents) Drain(opens.Get());

    // A port opens again after a hang-up, or opens a fresh terminal for the first time
    // (no hang-up came before it).
    const bool opening = hungUp ? (fds[2].revents || !opens.Valid()) : fds[2].revents != 0;
    if (opening && !master.HungUp()) {
      if (hungUp) {
        hungUp = false;
        master.KeepExtproc();
        session.SetLineRate(master.Rate());
      }
      session.PortOpened(Clock::now());
    }

    if (fds[1].revents) {
      const PtyMaster::Packets packets = master.ReadAll();
      if (packets.any) session.PortOpened(Clock::now());
      if (packets.settingsChanged) master.KeepExtproc();
      if (packets.settingsChanged || !packets.data.empty()) session.SetLineRate(master.Rate());
      if (!packets.data.empty()) session.Received(packets.data, Clock::now());
      // A device cut off leaves the line as an unplugged adapter does.
      if (session.CutOff()) {
        unplugged = true;
        master.Unplug();
        session.PortClosed(Clock::now());
        continue;
      }
      if (packets.hungUp || (fds[1].revents & POLLHUP)) {
        hungUp = true;
        session.PortClosed(Clock::now());
      }
    }

    for (const auto& burst : session.TakeDue(Clock::now())) {
      if (!hungUp && session.PortOpen()) master.Write(burst);
    }
  }
}

bool PtyDevice::PortOpen() const {
  return Session().PortOpen();
}

std::uint32_t PtyDevice::LineRate() const {
  return Session().LineRate();
}

bool PtyDevice::WaitPortOpen(bool open, std::chrono::milliseconds limit) const {
  return Session().WaitPortOpen(open, limit);
}

}  // namespace device
