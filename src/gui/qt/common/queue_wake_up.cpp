#include "common/queue_wake_up.h"

#include "runtime/main_thread.h"

#include <QMetaObject>

#include <mutex>

namespace gui_qt {
namespace {

// Guards the receiver against Uninstall while another thread posts. The drain takes it
// once before it touches what the posting thread built: Qt's queue hands the call over
// under Qt's own locks, which ThreadSanitizer cannot see.
std::mutex& PostMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

QueueWakeUp::QueueWakeUp() : receiver_(std::make_unique<QObject>()) {}

QueueWakeUp::~QueueWakeUp() {
  Uninstall();
}

void QueueWakeUp::Install() {
  // The hook holds a weak reference: a thread that copied the hook before Uninstall may
  // still call it after this object is gone.
  std::weak_ptr<QueueWakeUp> weak = weak_from_this();
  runtime::SetWakeUpHook([weak] {
    if (auto self = weak.lock()) self->Post();
  });
  Post();
}

void QueueWakeUp::Uninstall() {
  runtime::SetWakeUpHook({});
  std::unique_ptr<QObject> receiver;
  {
    std::lock_guard lock(PostMutex());
    receiver = std::move(receiver_);
  }
  // Deleting the receiver discards its pending posted calls.
}

void QueueWakeUp::Post() {
  if (posted_.exchange(true)) return;
  std::lock_guard lock(PostMutex());
  if (!receiver_) return;
  QMetaObject::invokeMethod(
      receiver_.get(),
      [weak = weak_from_this()] {
        { std::lock_guard handedOver(PostMutex()); }
        if (auto self = weak.lock()) self->Drain();
      },
      Qt::QueuedConnection);
}

void QueueWakeUp::Drain() {
  // Cleared first: whatever is queued from now on posts a fresh drain.
  posted_.store(false);
  runtime::ProcessMessages();
}

}  // namespace gui_qt
