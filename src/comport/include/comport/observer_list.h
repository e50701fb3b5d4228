// The port's observer list. Every change replaces the whole list (copy on write) and
// every notification walks the list as it was when the walk began, so a walk on one
// thread never sees the list change under it, and no lock is held while observers run.
#pragma once

#include "comport/events.h"

#include <memory>
#include <vector>

namespace comport {

struct ObserverSnapshot;

class ObserverList {
 public:
  using Entries = std::vector<PortObserver*>;

  ObserverList();
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // Adds a record once. A walk that is already running does not call it.
  void Add(PortObserver* observer);

  // Removes a record. A walk that is already running still calls it. Called outside
  // any notification, returns only once no walk on another thread can call it any
  // more, so the caller may destroy it then; while waiting on the main thread it
  // serves the main thread's queue, so a walk handing work to it can finish. Inside
  // a notification it does not wait: two walks could end up waiting for each other.
  void Remove(PortObserver* observer);

  // The list as it is now.
  Entries Current() const;

  // One notification's view of the list, fixed for as long as the walk lives.
  class Walk {
   public:
    explicit Walk(const ObserverList& list);
    ~Walk();
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    const Entries& Observers() const;

   private:
    std::shared_ptr<const ObserverSnapshot> snapshot_;
  };

 private:
  std::shared_ptr<const ObserverSnapshot> Load() const;
  bool Replace(std::shared_ptr<const ObserverSnapshot>& expected,
               std::shared_ptr<const ObserverSnapshot> desired);

  // Read and replaced only through the standard atomic shared_ptr functions.
  std::shared_ptr<const ObserverSnapshot> current_;
};

}  // namespace comport
