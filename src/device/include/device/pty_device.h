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

#include "device/emulated_device.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace device {

class PtyDevice : public EmulatedDevice {
 public:
  // Throws std::system_error when no pseudo-terminal can be had.
  explicit PtyDevice(DeviceState initial = {});
  ~PtyDevice();

  const std::string& SlavePath() const { return slavePath_; }

  // Whether a port has the slave open, and the rate it set last (0 before any).
  bool PortOpen() const;
  std::uint32_t LineRate() const;
  // Waits until PortOpen() == open; false when the limit passes first.
  bool WaitPortOpen(bool open, std::chrono::milliseconds limit) const;

 private:
  struct Worker;
  std::string slavePath_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace device
