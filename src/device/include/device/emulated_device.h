// What every front end of the emulated PZ-RQ480 offers its user: the device's state, its
// fault mode and the log of its frames. A front end (virtual line, pseudo-terminal) adds
// the line it serves and the thread that serves it.
#pragma once

#include "device/frame_log.h"
#include "device/pzrq480_model.h"

#include <functional>
#include <memory>
#include <vector>

namespace device {

class DeviceSession;

class EmulatedDevice {
 public:
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  DeviceState State() const;
  void SetState(const DeviceState& state);
  void SetFault(const FaultConfig& fault);
  std::vector<FrameRecord> Frames() const;
  // Called on the device's thread for each record as it is made; no lock is held.
  void SetObserver(std::function<void(const FrameRecord&)> observer);

 protected:
  explicit EmulatedDevice(DeviceState initial);
  // The front end stops its serving thread in its own destructor, before the session goes.
  ~EmulatedDevice();
  DeviceSession& Session() const { return *session_; }

 private:
  std::unique_ptr<DeviceSession> session_;
};

}  // namespace device
