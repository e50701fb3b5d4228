// The emulated PZ-RQ480 on a virtual line: creates the line under a port name and answers
// on its own thread until destroyed. The rate it hears the port at is the DCB the port
// handed the driver.
#pragma once

#include "device/frame_log.h"
#include "device/pzrq480_model.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace winapi {
class VirtualLine;
}

namespace device {

class DeviceSession;

class VirtualLineDevice {
 public:
  // Throws std::invalid_argument when the name is taken.
  explicit VirtualLineDevice(const std::string& portName, DeviceState initial = {});
  ~VirtualLineDevice();
  VirtualLineDevice(const VirtualLineDevice&) = delete;
  VirtualLineDevice& operator=(const VirtualLineDevice&) = delete;

  DeviceState State() const;
  void SetState(const DeviceState& state);
  void SetFault(const FaultConfig& fault);
  std::shared_ptr<winapi::VirtualLine> Line() const { return line_; }
  std::vector<FrameRecord> Frames() const;
  // Called on the device's thread for each record as it is made; no lock is held.
  void SetObserver(std::function<void(const FrameRecord&)> observer);

 private:
  void Serve();

  std::shared_ptr<winapi::VirtualLine> line_;
  std::unique_ptr<DeviceSession> session_;
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace device
