#include "configurator/port_watch.h"

#include "runtime/main_thread.h"
#include "runtime/thread.h"
#include "winapi/owned_fd.h"
#include "winapi/port_map.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace configurator {
namespace {

constexpr char kDeviceFolder[] = "/dev";
constexpr std::uint32_t kEntryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;

// Serial devices among the device folder's entries (an adapter's node gets its owner and
// permissions a moment after it appears: IN_ATTRIB tells).
bool SerialDeviceName(std::string_view name) {
  return name.starts_with("tty") || name.starts_with("rfcomm") || name == "serial";
}

}  // namespace

struct PortWatch::Watcher : runtime::Thread {
  explicit Watcher(std::function<void()> changed)
      : changed_(std::move(changed)),
        inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        stop_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without inotify the list is simply not refreshed: the start-up probe still stands.
    if (inotify_.Get() < 0 || stop_.Get() < 0) return;
    devices_ = ::inotify_add_watch(inotify_.Get(), kDeviceFolder, kEntryEvents);
    if (const auto map = winapi::PortMapDirectory()) {
      portMap_ = ::inotify_add_watch(inotify_.Get(), map->c_str(), kEntryEvents);
    }
    Resume();
  }

  ~Watcher() override {
    Terminate();
    if (Started()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(stop_.Get(), &one, sizeof one);
      WaitFor();  // serves a hand-over of `changed_` that is under way
    }
  }

 protected:
  void Execute() override {
    std::array<pollfd, 2> fds{{{inotify_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}}};
    while (!Terminated()) {
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[1].revents != 0 || Terminated()) return;
      if (fds[0].revents != 0 && ReadChanges()) {
        runtime::RunOnMainThread([this] {
          if (!Terminated()) changed_();
        });
      }
    }
  }

 private:
  // Drains the pending events; true when one of them concerns a port.
  bool ReadChanges() {
    bool relevant = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t length = ::read(inotify_.Get(), buffer, sizeof buffer);
      if (length <= 0) return relevant;
      for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const std::string_view name = event->len > 0 ? std::string_view(event->name) : "";
        if (event->wd == portMap_ || (event->mask & IN_Q_OVERFLOW) != 0 ||
            (event->wd == devices_ && SerialDeviceName(name))) {
          relevant = true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  std::function<void()> changed_;
  winapi::OwnedFd inotify_;
  winapi::OwnedFd stop_;
  int devices_ = -1;
  int portMap_ = -1;
};

PortWatch::PortWatch(std::function<void()> changed)
    : watcher_(std::make_unique<Watcher>(std::move(changed))) {}

PortWatch::~PortWatch() = default;

}  // namespace configurator
