// The main thread and its queue: other threads hand calls to the main thread and
// block until it has run them; the main thread serves the queue when it processes
// pending messages (or waits for a thread to end, see runtime/thread.h).
#pragma once

#include <chrono>
#include <functional>

namespace runtime {

// The main thread is the thread that first touched the runtime (in practice the
// thread that runs static initialisation, i.e. the process's first thread).
// SetMainThread makes the calling thread the main thread instead.
void SetMainThread();
bool IsMainThread();

// Runs `call` on the main thread. From another thread: queues it, wakes the main
// thread, blocks until the main thread has run it and rethrows its exception here.
// On the main thread: runs it directly. A main thread that never processes its
// messages (nor waits for a thread) holds the caller.
void RunOnMainThread(std::function<void()> call);

// Main thread only: serves the hand-overs and sent messages queued so far and
// returns. Never blocks; work queued while it runs waits for the next call.
// Returns whether anything was served.
bool ProcessMessages();

// Main thread only: blocks until something is queued or the deadline passes,
// without serving it. Returns whether something is queued.
bool WaitForMessages(std::chrono::steady_clock::time_point deadline);
bool WaitForMessages(std::chrono::milliseconds timeout);

// Called, on the queuing thread, every time something is queued for the main
// thread, so a GUI event loop can post itself a "drain the queue" event. Must be
// quick and must not wait for the main thread. An empty function removes it.
void SetWakeUpHook(std::function<void()> hook);

}  // namespace runtime
