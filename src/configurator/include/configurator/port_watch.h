// Tells the window when serial devices or port-map entries come or go, so that it can
// look for ports again. Linux: the device folder and the port-map folder are watched
// (inotify) by a thread of its own; Windows: the system's device-change broadcasts reach
// a hidden window of the main thread.
#pragma once

#include <functional>
#include <memory>

namespace configurator {

class PortWatch {
 public:
  // Main thread. `changed` runs on the main thread, from its message processing, after
  // one or more changes; it may run once for a burst of them.
  explicit PortWatch(std::function<void()> changed);
  // Main thread; `changed` is not called once this returns.
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

 private:
  struct Watcher;
  std::unique_ptr<Watcher> watcher_;
};

}  // namespace configurator
