// Work that a thread waiting on an event can do itself while it sleeps: watch a
// descriptor and, once it is ready, run what may set the event. The waiter then wakes
// straight from the device, not through another thread that would set the event for it.
#pragma once

namespace winapi::events {

class WaitBlock;

class WaitSource {
 public:
  virtual ~WaitSource() = default;

  // Begins one watch by the thread sleeping on `block`: the descriptor to poll for input,
  // or -1 when there is nothing to watch now. After a descriptor, the source may wake the
  // block, and the descriptor stays open, until EndWatch.
  virtual int BeginWatch(WaitBlock& block) = 0;
  // The descriptor polled ready with `revents`; between BeginWatch and EndWatch.
  virtual void OnReady(short revents) = 0;
  virtual void EndWatch(WaitBlock& block) = 0;
};

}  // namespace winapi::events
