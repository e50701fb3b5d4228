#include "device/emulated_device.h"

#include "common/device_session.h"

namespace device {

EmulatedDevice::EmulatedDevice(DeviceState initial)
    : session_(std::make_unique<DeviceSession>(initial)) {}

EmulatedDevice::~EmulatedDevice() = default;

DeviceState EmulatedDevice::State() const {
  return session_->State();
}

void EmulatedDevice::SetState(const DeviceState& state) {
  session_->SetState(state);
}

void EmulatedDevice::SetFault(const FaultConfig& fault) {
  session_->SetFault(fault);
}

std::vector<FrameRecord> EmulatedDevice::Frames() const {
  return session_->Frames();
}

void EmulatedDevice::SetObserver(std::function<void(const FrameRecord&)> observer) {
  session_->SetObserver(std::move(observer));
}

}  // namespace device
