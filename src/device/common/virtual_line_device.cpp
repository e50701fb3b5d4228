#include "device/virtual_line_device.h"

#include "common/device_session.h"
#include "common/thread_priority.h"

#include "winapi/virtual_line.h"

#include <atomic>
#include <thread>

namespace device {

namespace {

// How long the serving thread sleeps when nothing is due; any activity wakes it earlier.
constexpr std::chrono::hours kIdleWait{1};

}  // namespace

struct VirtualLineDevice::Worker {
  std::atomic<bool> stop{false};
  std::thread thread;
};

VirtualLineDevice::VirtualLineDevice(const std::string& portName, DeviceState initial)
    : line_(winapi::VirtualLine::Create(portName)),
      session_(std::make_unique<DeviceSession>(initial)),
      worker_(std::make_unique<Worker>()) {
  worker_->thread = std::thread([this] { Serve(); });
}

VirtualLineDevice::~VirtualLineDevice() {
  worker_->stop = true;
  line_->Notify();
  worker_->thread.join();
}

void VirtualLineDevice::Serve() {
  RaiseCurrentThreadPriority();
  std::uint64_t seen = line_->Activity();
  bool open = false;
  int openCount = line_->OpenCount();
  while (!worker_->stop) {
    const auto now = Clock::now();
    // A close and a new open between two wake-ups still end the first session.
    const int count = line_->OpenCount();
    const bool nowOpen = line_->IsOpen();
    if (open && (!nowOpen || count != openCount)) {
      session_->PortClosed(now);
      open = false;
    }
    if (!open && nowOpen) {
      session_->PortOpened(now);
      open = true;
    }
    openCount = count;
    // Bytes are heard at the rate the port has set when they are taken.
    session_->SetLineRate(open ? line_->CommState().BaudRate : 0);
    const std::vector<std::uint8_t> sent = line_->TakeSent();
    if (!sent.empty()) session_->Received(sent, now);
    for (const auto& burst : session_->TakeDue(Clock::now())) {
      if (line_->IsOpen()) line_->Inject(burst);
    }
    const auto deadline = session_->NextDeadline().value_or(Clock::now() + kIdleWait);
    seen = line_->WaitActivity(seen, deadline);
  }
}

DeviceState VirtualLineDevice::State() const {
  return session_->State();
}

void VirtualLineDevice::SetState(const DeviceState& state) {
  session_->SetState(state);
}

void VirtualLineDevice::SetFault(const FaultConfig& fault) {
  session_->SetFault(fault);
}

std::vector<FrameRecord> VirtualLineDevice::Frames() const {
  return session_->Frames();
}

void VirtualLineDevice::SetObserver(std::function<void(const FrameRecord&)> observer) {
  session_->SetObserver(std::move(observer));
}

}  // namespace device
