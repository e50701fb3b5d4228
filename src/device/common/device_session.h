// What the device front ends (virtual line, pseudo-terminal) share: the protocol model,
// the replies waiting for their time, the port's state and the log. The serving thread
// drives it; State, SetState, SetFault, Frames and the port queries are safe from any
// thread.
#pragma once

#include "device/frame_log.h"
#include "device/pzrq480_model.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace device {

class DeviceSession {
 public:
  explicit DeviceSession(DeviceState initial);

  // Serving thread. A closed port drops the partial request and the replies not yet sent.
  void PortOpened(Clock::time_point now);
  void PortClosed(Clock::time_point now);
  void SetLineRate(std::uint32_t rate);
  void Received(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // The next moment something is due: a reply burst or the end of a partial request.
  std::optional<Clock::time_point> NextDeadline() const;
  // Ends a partial request whose silence has passed and returns the bursts due at `now`,
  // in order (a chattering line's bytes among them); they are logged as sent.
  std::vector<std::vector<std::uint8_t>> TakeDue(Clock::time_point now);
  // Whether the device is cut off (Fault::StopAfter): the front end then takes the line away.
  bool CutOff() const;

  // Any thread.
  DeviceState State() const;
  void SetState(const DeviceState& state);
  void SetFault(const FaultConfig& fault);
  std::vector<FrameRecord> Frames() const;
  void SetObserver(std::function<void(const FrameRecord&)> observer);
  bool PortOpen() const;
  std::uint32_t LineRate() const;
  bool WaitPortOpen(bool open, std::chrono::milliseconds limit) const;

 private:
  struct Scheduled {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };

  // Both run with the lock held; Publish hands the new records to the observer after it.
  void Log(FrameRecord record);
  // Logs the received request and queues its reply from `now`.
  void Schedule(const Exchange& exchange, Clock::time_point now);
  void Queue(const std::vector<ReplyBurst>& reply, Clock::time_point now);
  // Bytes the line sends on its own (echo, chatter), due at `at`.
  void SendOwn(std::vector<std::uint8_t> bytes, Clock::time_point at);
  void Publish(std::unique_lock<std::mutex>& lock);
  // Starts or stops the chatter as the fault and the port's state ask.
  void UpdateChatter(Clock::time_point now);

  mutable std::mutex mutex_;
  mutable std::condition_variable portChanged_;
  Pzrq480Model model_;
  std::vector<Scheduled> scheduled_;  // by due time
  std::vector<FrameRecord> log_;
  std::vector<FrameRecord> unpublished_;
  std::function<void(const FrameRecord&)> observer_;
  bool portOpen_ = false;
  std::uint32_t lineRate_ = 0;
  std::optional<Clock::time_point> nextChatter_;
};

}  // namespace device
