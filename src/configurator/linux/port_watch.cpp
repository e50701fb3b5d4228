#include "configurator/port_watch.h"

#include "runtime/main_thread.h"
#include "runtime/thread.h"
#include "winapi/owned_fd.h"
#include "winapi/port_map.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
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
// The port-map folder itself may go (or be renamed) and come back.
constexpr std::uint32_t kMapEvents = kEntryEvents | IN_DELETE_SELF | IN_MOVE_SELF;
// A folder on the way to a port-map folder that does not exist yet: a new entry in it may
// be the next step. Added to whatever else watches that folder.
constexpr std::uint32_t kAncestorEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD;

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
      std::error_code error;
      mapFolder_ = std::filesystem::absolute(*map, error).lexically_normal();
      WatchPortMap();
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
  // Watches the port-map folder or, while it does not exist, the deepest folder on the way
  // to it that does (`pzrq480-cli map` creates the folder on first use). True when the
  // folder itself is now watched: its entries are news to whoever listed ports before.
  bool WatchPortMap() {
    if (mapFolder_.empty()) return false;
    portMap_ = ::inotify_add_watch(inotify_.Get(), mapFolder_.c_str(), kMapEvents);
    if (portMap_ >= 0) {
      DropAncestor();
      return true;
    }
    for (std::filesystem::path folder = mapFolder_.parent_path();; folder = folder.parent_path()) {
      const int watch = ::inotify_add_watch(inotify_.Get(), folder.c_str(), kAncestorEvents);
      if (watch >= 0) {
        if (watch != ancestor_) DropAncestor();
        ancestor_ = watch;
        return false;
      }
      if (folder == folder.root_path() || folder.empty()) return false;
    }
  }

  // The device folder's watch is shared with the ancestor's when they are one folder.
  void DropAncestor() {
    if (ancestor_ >= 0 && ancestor_ != devices_ && ancestor_ != portMap_) {
      ::inotify_rm_watch(inotify_.Get(), ancestor_);
    }
    ancestor_ = -1;
  }

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
        if ((event->mask & IN_Q_OVERFLOW) != 0 ||
            (event->wd == devices_ && SerialDeviceName(name))) {
          relevant = true;
        }
        if (event->wd == portMap_ && portMap_ >= 0) {
          relevant = true;
          // Gone or moved away: from now on its place is watched until it is back.
          if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
            if ((event->mask & IN_MOVE_SELF) != 0) ::inotify_rm_watch(inotify_.Get(), portMap_);
            portMap_ = -1;
            WatchPortMap();
          }
        } else if (event->wd == ancestor_ && ancestor_ >= 0 && portMap_ < 0 &&
                   (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
          relevant = WatchPortMap() || relevant;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  std::function<void()> changed_;
  winapi::OwnedFd inotify_;
  winapi::OwnedFd stop_;
  int devices_ = -1;
  std::filesystem::path mapFolder_;
  int portMap_ = -1;   // the port-map folder, while it exists
  int ancestor_ = -1;  // the deepest existing folder on the way to it, while it does not
};

PortWatch::PortWatch(std::function<void()> changed)
    : watcher_(std::make_unique<Watcher>(std::move(changed))) {}

PortWatch::~PortWatch() = default;

}  // namespace configurator
