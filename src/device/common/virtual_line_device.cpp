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
    : EmulatedDevice(initial),
      line_(winapi::VirtualLine::Create(portName)),
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
  bool cutOff = false;
  while (!worker_->stop) {
    const auto now = Clock::now();
    // A close and a new open between two wake-ups still end the first session.
    const int count = line_->OpenCount();
    const bool nowOpen = line_->IsOpen();
    if (open && (!nowOpen || count != openCount)) {
      Session().PortClosed(now);
      open = false;
    }
    if (!open && nowOpen) {
      Session().PortOpened(now);
      open = true;
    }
    openCount = count;
    // Bytes are heard at the rate the port has set when they are taken.
    Session().SetLineRate(open ? line_->CommState().BaudRate : 0);
    const std::vector<std::uint8_t> sent = line_->TakeSent();
    if (!sent.empty()) Session().Received(sent, now);
    // A device cut off is gone from the line, as an unplugged adapter is.
    if (!cutOff && Session().CutOff()) {
      cutOff = true;
      line_->Disconnect();
    }
    for (const auto& burst : Session().TakeDue(Clock::now())) {
      if (line_->IsOpen()) line_->Inject(burst);
    }
    const auto deadline = Session().NextDeadline().value_or(Clock::now() + kIdleWait);
    seen = line_->WaitActivity(seen, deadline);
  }
}

}  // namespace device
