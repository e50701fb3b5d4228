// A worker thread object: created suspended, started by Resume, asked to stop by
// Terminate, waited for by WaitFor (which on the main thread keeps serving the
// main thread's queue, so a thread blocked in a hand-over can finish).
//
// Stopping in derived classes: the base destructor runs after the derived members
// are gone, so a class whose Execute uses its own members must stop the thread
// first, in its own destructor:
//
//   class Worker : public runtime::Thread {
//    public:
//     ~Worker() override { TerminateAndWait(); }  // before the members go
//    protected:
//     void Execute() override { while (!Terminated()) { /* uses members */ } }
//   };
#pragma once

#include <atomic>
#include <exception>
#include <thread>

#include "winapi/types.h"

namespace runtime {

class Thread {
 public:
  Thread() = default;  // suspended: nothing runs until Resume
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Sets Terminated and waits for the end as WaitFor does; a thread that was never
  // resumed is simply released.
  virtual ~Thread();

  // Starts Execute on a new thread. Does nothing once started; throws std::system_error
  // (and stays suspended) when the system cannot create the thread.
  void Resume();

  // Asks Execute to stop by setting Terminated; Execute has to look.
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }

  // Stored only (THREAD_PRIORITY_NORMAL is 0); the system's scheduler is left alone.
  void SetPriority(int priority) { priority_.store(priority); }
  int Priority() const { return priority_.load(); }

  // Blocks until Execute has ended. On the main thread it waits in slices of at
  // most 1000 ms and serves hand-overs and sent messages meanwhile. Throws
  // std::logic_error when called by the thread itself or before Resume.
  void WaitFor();

  bool Started() const { return started_.load(); }
  bool Finished() const { return finished_.load(); }

  // The exception that escaped Execute, once the thread has ended (null before,
  // and when Execute returned normally). Kept, never shown.
  std::exception_ptr FatalException() const;

 protected:
  virtual void Execute() = 0;

  // Terminate, then WaitFor if the thread was started. For derived destructors.
  void TerminateAndWait();

 private:
  void Run();

  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> priority_{THREAD_PRIORITY_NORMAL};
  std::exception_ptr fatal_;  // written by the thread before finished_
  std::thread thread_;
};

}  // namespace runtime
