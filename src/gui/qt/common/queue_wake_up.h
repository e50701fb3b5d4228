// Wakes Qt's event loop when another thread queues a call for the main thread, so the
// runtime's queue is drained by whichever Qt loop is running (also a modal dialog's).
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace gui_qt {

class QueueWakeUp : public std::enable_shared_from_this<QueueWakeUp> {
 public:
  // Main thread: the receiver of the posted drain calls lives there.
  QueueWakeUp();
  ~QueueWakeUp();
  QueueWakeUp(const QueueWakeUp&) = delete;
  QueueWakeUp& operator=(const QueueWakeUp&) = delete;

  // Plugs into the runtime's wake-up hook and posts one drain for what is queued already.
  void Install();
  // Unplugs; drains posted but not yet run are dropped. Main thread.
  void Uninstall();

  // Any thread: posts one drain unless one is already on its way.
  void Post();

 private:
  void Drain();

  std::unique_ptr<QObject> receiver_;  // guarded by the posting lock
  std::atomic<bool> posted_{false};
};

}  // namespace gui_qt
