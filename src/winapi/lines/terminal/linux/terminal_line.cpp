#include "lines/terminal/linux/terminal_line.h"

#include "lines/terminal/linux/terminal.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace winapi::driver {

std::unique_ptr<TerminalLine> TerminalLine::Open(const std::string& path, DWORD& windowsError) {
  auto device = TerminalDevice::Open(path, windowsError);
  if (!device) return nullptr;
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    windowsError = errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE;
    return nullptr;
  }
  windowsError = ERROR_SUCCESS;
  return std::unique_ptr<TerminalLine>(new TerminalLine(std::move(device), wakeFd));
}

TerminalLine::TerminalLine(std::unique_ptr<TerminalDevice> device, int wakeFd)
    : device_(std::move(device)),
      wakeFd_(wakeFd),
      inputWatch_(std::make_shared<TerminalInputWatch>(
          device_->Descriptor(),
          [this] { return sink_ && receiveArmed_ && failure_ == ERROR_SUCCESS && !stopping_; },
          [this](short revents) { OnWatchedInput(revents); })) {}

TerminalLine::~TerminalLine() {
  Stop();
  ::close(wakeFd_);
}

void TerminalLine::Start(LineSink& sink) {
  sink_ = &sink;
  DWORD status = 0;
  if (device_->ModemStatus(status) == ERROR_SUCCESS) lastModemStatus_ = status;
  lastCounters_ = device_->Counters();
  if (device_->SupportsModemWait()) {
    modemWatch_.emplace(device_->Descriptor(), [this] {
      modemChanged_ = true;
      Wake();
    });
  }
  worker_ = std::thread([this] { Run(); });
}

void TerminalLine::Stop() {
  stopping_ = true;
  if (auto event = inputWaitEvent_.lock()) event->DropSource(inputWatch_.get());
  inputWaitEvent_.reset();
  inputWatch_->Stop();
  Wake();
  if (worker_.joinable()) worker_.join();
  modemWatch_.reset();
}

DWORD TerminalLine::ApplyState(const DCB& dcb) {
  if (const DWORD error = failure_; error != ERROR_SUCCESS) return error;
  return device_->Configure(dcb);
}

std::size_t TerminalLine::Transmit(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || failure_ != ERROR_SUCCESS) return 0;
  DWORD error = ERROR_SUCCESS;
  const long written = device_->Write(bytes.data(), bytes.size(), error);
  if (written < 0) {
    Fail(error);
    return 0;
  }
  const auto taken = static_cast<std::size_t>(written);
  if (taken < bytes.size() && !transmitWanted_.exchange(true)) Wake();
  return taken;
}

std::size_t TerminalLine::Receive(std::span<std::uint8_t> dest) {
  if (dest.empty()) return 0;
  std::size_t received = 0;
  if (failure_ == ERROR_SUCCESS) {
    DWORD error = ERROR_SUCCESS;
    const long count = device_->Read(dest.data(), dest.size(), error);
    if (count < 0) {
      Fail(error);
    } else {
      received = static_cast<std::size_t>(count);
    }
  }
  // The worker polls for input again by itself once its present round ends; only a
  // worker asleep without input in its poll needs waking.
  if (received < dest.size() && !receiveArmed_.exchange(true) && !workerWatchesInput_) Wake();
  return received;
}

DWORD TerminalLine::ModemStatus() {
  DWORD status = 0;
  if (device_->ModemStatus(status) != ERROR_SUCCESS) return 0;
  return status;
}

void TerminalLine::Purge(DWORD purgeFlags) {
  device_->Purge((purgeFlags & PURGE_RXCLEAR) != 0, (purgeFlags & PURGE_TXCLEAR) != 0);
}

void TerminalLine::SetInputWaitEvent(HANDLE event) {
  std::shared_ptr<events::Event> next = event ? events::EventOf(event) : nullptr;
  std::shared_ptr<events::Event> previous = inputWaitEvent_.lock();
  if (previous == next) return;
  if (previous) previous->DropSource(inputWatch_.get());
  if (next) next->SetSource(inputWatch_);
  inputWaitEvent_ = next;
}

void TerminalLine::TakeInput() {
  receiveArmed_ = false;
  sink_->OnReceiveReady();
}

void TerminalLine::OnWatchedInput(short revents) {
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    Fail(ERROR_DEVICE_NOT_CONNECTED);  // the worker reports it
  } else if (revents & POLLIN) {
    TakeInput();
  }
}

void TerminalLine::Wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

void TerminalLine::Fail(DWORD windowsError) {
  DWORD none = ERROR_SUCCESS;
  if (failure_.compare_exchange_strong(none, windowsError)) Wake();
}

void TerminalLine::Run() {
  workerTid_ = static_cast<int>(::gettid());
  const bool hasCounters = lastCounters_.has_value();
  while (!stopping_) {
    if (const DWORD error = failure_; error != ERROR_SUCCESS) {
      sink_->OnGone(error);
      return;
    }
    // Noted before the look at receiveArmed_, so that a re-arm after the look sees it.
    workerWatchesInput_ = false;
    const bool watchInput = receiveArmed_;
    if (watchInput) workerWatchesInput_ = true;
    const short events =
        static_cast<short>((watchInput ? POLLIN : 0) | (transmitWanted_ ? POLLOUT : 0));
    pollfd fds[2] = {{device_->Descriptor(), events, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno != EINTR) Fail(ERROR_GEN_FAILURE);
      continue;
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
    }
    if (stopping_) return;
    const short revents = fds[0].revents;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
      Fail(ERROR_DEVICE_NOT_CONNECTED);
      continue;
    }
    if (modemChanged_.exchange(false) || (hasCounters && (revents & POLLIN))) {
      ReportLineStatus();
    }
    if ((revents & POLLOUT) && transmitWanted_.exchange(false)) sink_->OnTransmitReady();
    // Also when a watching waiter took this input first: then the call finds it gone.
    if (revents & POLLIN) TakeInput();
  }
}

void TerminalLine::ReportLineStatus() {
  DWORD status = 0;
  if (device_->ModemStatus(status) == ERROR_SUCCESS && status != lastModemStatus_) {
    lastModemStatus_ = status;
    sink_->OnModemStatus(status);
  }
  const auto counters = device_->Counters();
  if (!counters) return;
  if (lastCounters_) {
    DWORD errors = 0;
    if (counters->frame != lastCounters_->frame) errors |= CE_FRAME;
    if (counters->parity != lastCounters_->parity) errors |= CE_RXPARITY;
    // Bytes lost in the UART or in the kernel's buffer alike never reach the driver.
    if (counters->overrun != lastCounters_->overrun ||
        counters->bufferOverrun != lastCounters_->bufferOverrun) {
      errors |= CE_OVERRUN;
    }
    if (errors != 0) sink_->OnLineErrors(errors);
    if (counters->breaks != lastCounters_->breaks) sink_->OnBreak();
  }
  lastCounters_ = counters;
}

std::unique_ptr<Line> OpenTerminalLine(const std::string& path, DWORD& windowsError) {
  return TerminalLine::Open(path, windowsError);
}

}  // namespace winapi::driver
