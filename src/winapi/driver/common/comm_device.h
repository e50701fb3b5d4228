// The model of a Windows serial driver for one open device: its receive queue, DCB,
// time-outs, event mask with history, and the read, write and wait requests it completes.
// The methods take the arguments of the Windows calls of the same purpose, return their
// result and set the last error as those calls do.
#pragma once

#include "driver/common/handle_table.h"
#include "lines/common/line.h"
#include "winapi/types.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace winapi::driver {

class CommDevice final : public handles::Object, private LineSink {
 public:
  // `access` is the GENERIC_READ / GENERIC_WRITE of CreateFileA.
  CommDevice(std::unique_ptr<Line> line, DWORD access);
  ~CommDevice() override;
  CommDevice(const CommDevice&) = delete;
  CommDevice& operator=(const CommDevice&) = delete;

  // Starts the line and the time-out thread; called once, right after construction.
  void Open();
  // CloseHandle: ends every pending request with ERROR_OPERATION_ABORTED.
  BOOL Close();

  BOOL Read(LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
  BOOL Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
  BOOL GetOverlappedResult(LPOVERLAPPED overlapped, LPDWORD done, BOOL wait);
  BOOL Setup(DWORD inQueue, DWORD outQueue);
  BOOL SetState(const DCB* dcb);
  BOOL GetState(DCB* dcb);
  BOOL SetTimeouts(const COMMTIMEOUTS* timeouts);
  BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
  BOOL SetMask(DWORD mask);
  BOOL WaitEvent(LPDWORD eventMask, LPOVERLAPPED overlapped);
  BOOL ClearError(LPDWORD errors, LPCOMSTAT stat);
  BOOL Purge(DWORD flags);
  BOOL GetModemStatus(LPDWORD modemStatus);

 private:
  using Clock = std::chrono::steady_clock;
  struct Request;
  using RequestPtr = std::shared_ptr<Request>;
  using Lock = std::unique_lock<std::mutex>;

  // LineSink: each report takes mutex_ itself (the line's worker calls them unlocked).
  void OnReceiveReady() override;
  void OnTransmitReady() override;
  void OnModemStatus(DWORD modemStatus, DWORD changedBack = 0) override;
  void OnLineErrors(DWORD ceFlags) override;
  void OnBreak() override;
  void OnGone(DWORD windowsError) override;

  // ---- Need mutex_ held: the public calls take it and then call these ----

  // Checks common to every call: the handle is open, the device is there, the line does
  // not fail this call on purpose. Returns the error to fail with, or 0.
  DWORD Admit(DriverCall call);
  // Waits on `lock` (which must hold mutex_) for a synchronous request to finish.
  BOOL Submit(Lock& lock, const RequestPtr& request, LPDWORD done);

  void Pump();
  void PullReceived();
  void ServeReads();
  void StartRead(Request& read);
  void PumpTransmit();
  void StartWrite(Request& write);
  void Raise(DWORD events);
  // Ends the pending wait with `status` (after setting its events).
  void FinishWait(DWORD status);
  void Complete(Request& request, DWORD status);
  void AbortAll(std::deque<RequestPtr>& requests, DWORD error);
  void AbortOnError();
  bool IsPending(const OVERLAPPED* overlapped) const;
  std::size_t PendingWriteBytes() const;
  std::optional<Clock::time_point> NextDeadline() const;
  void ExpireRequests(Clock::time_point now);

  // ---- Touch no shared state: free to call with or without mutex_ ----
  BOOL Fail(DWORD error);
  RequestPtr NewRequest(LPOVERLAPPED overlapped);

  // The time-out thread's body; takes mutex_ itself.
  void TimerLoop();

  std::unique_ptr<Line> line_;
  const DWORD access_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;    // a request completed
  std::condition_variable timerWake_;  // deadlines changed or closing
  std::thread timer_;

  bool opened_ = false;
  bool closed_ = false;
  DWORD goneError_ = 0;
  bool aborted_ = false;  // fAbortOnError tripped: reads and writes fail until ClearCommError

  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  std::size_t inQueueSize_ = 4096;
  std::size_t outQueueSize_ = 4096;

  std::deque<std::uint8_t> received_;
  bool lineHasData_ = true;
  DWORD modem_ = 0;
  DWORD errors_ = 0;
  DWORD mask_ = 0;
  DWORD history_ = 0;

  std::deque<RequestPtr> reads_;
  std::deque<RequestPtr> writes_;
  RequestPtr wait_;
};

}  // namespace winapi::driver
