// The emulated PZ-RQ480 on a virtual line: creates the line under a port name and answers
// on its own thread until destroyed. The rate it hears the port at is the DCB the port
// handed the driver.
#pragma once

#include "device/emulated_device.h"

#include <memory>
#include <string>

namespace winapi {
class VirtualLine;
}

namespace device {

class VirtualLineDevice : public EmulatedDevice {
 public:
  // Throws std::invalid_argument when the name is taken.
  explicit VirtualLineDevice(const std::string& portName, DeviceState initial = {});
  ~VirtualLineDevice();

  std::shared_ptr<winapi::VirtualLine> Line() const { return line_; }

 private:
  void Serve();

  std::shared_ptr<winapi::VirtualLine> line_;
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace device
