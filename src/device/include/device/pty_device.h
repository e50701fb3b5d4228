// The emulated PZ-RQ480 on the master side of a pseudo-terminal (Linux). A port opens the
// slave path like any serial device. The device learns the rate the port set through
// packet mode with EXTPROC (termios changes of the slave are reported on the master),
// sees the port close (hang-up on the master) and open again, and keeps serving until
// destroyed.
//
// Bytes count as sent at the rate in effect when the device reads them, which is at
// once unless the machine is very busy; a port that changes its rate right after writing
// may have those last bytes heard at the new rate (packet mode reports the change first).
#pragma once

#include "device/frame_log.h"
#include "device/pzrq480_model.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace device {

class DeviceSession;

class PtyDevice {
 public:
  // Throws std::system_error when no pseudo-terminal can be had.
  explicit PtyDevice(DeviceState initial = {});
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  DeviceState State() const;
  void SetState(const DeviceState& state);
  void SetFault(const FaultConfig& fault);
  std::vector<FrameRecord> Frames() const;
  // Called on the device's thread for each record as it is made; no lock is held.
  void SetObserver(std::function<void(const FrameRecord&)> observer);

  // Whether a port has the slave open, and the rate it set last (0 before any).
  bool PortOpen() const;
  std::uint32_t LineRate() const;
  // Waits until PortOpen() == open; false when the limit passes first.
  bool WaitPortOpen(bool open, std::chrono::milliseconds limit) const;

 private:
  struct Worker;
  std::string slavePath_;
  std::unique_ptr<DeviceSession> session_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace device
