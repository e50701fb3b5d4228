#include "comport/com_thread.h"
#include "comport/port.h"
#include "runtime/error_display.h"
#include "winapi/winapi.h"

#include <cstdio>
#include <exception>
#include <string>

namespace comport {

namespace {

const char* const kCloseInOwnHandler = "Cannot close the port from inside its own event handler";
const char* const kFreeInOwnHandler = "Cannot free the port from inside its own event handler";

// Errors with which a driver refuses every call once its device has been unplugged.
bool DeviceIsGone(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEVICE_REMOVED ||
         error == ERROR_BAD_COMMAND;
}

}  // namespace

TCustomComPort::TCustomComPort(TComponent* AOwner)
    : TComponent(AOwner),
      deviceHandle_(INVALID_HANDLE_VALUE),
      threadPriority_(THREAD_PRIORITY_NORMAL) {
  parity_ = std::make_unique<TComParity>();
  parity_->SetComPort(this);
  flowControl_ = std::make_unique<TComFlowControl>();
  flowControl_->SetComPort(this);
  timeouts_ = std::make_unique<TComTimeouts>();
  timeouts_->SetComPort(this);
  buffer_ = std::make_unique<TComBuffer>();
  buffer_->SetComPort(this);
}

TCustomComPort::~TCustomComPort() {
  // Stopping the event thread would wait for the very delivery that is running, and
  // the delivery would go on with a freed port: end the process with the reason, as
  // the standard library does for a thread destroyed unjoined.
  if (DeliveryRunningHere(*this)) {
    const std::string message = EComPort(port_, kFreeInOwnHandler).Message();
    winapi::OutputDebugStringA(message.c_str());
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    std::terminate();
  }
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; what Close left standing is torn down below.
  }
  StopMonitor();
  CloseDevice();
  connected_ = false;
  buffer_.reset();
  flowControl_.reset();
  timeouts_.reset();
  parity_.reset();
}

void TCustomComPort::EndLoading() {
  TComponent::EndLoading();
  if (!connected_) return;
  connected_ = false;
  try {
    Open();
  } catch (...) {
    runtime::HandleException(std::current_exception(), this);
  }
}

void TCustomComPort::Open() {
  if (connected_) return;
  HandleBeforeOpen();
  OpenDevice();
  connected_ = true;
  try {
    ApplySettings();
  } catch (...) {
    // The device refused a setting: closed again, without a close notification.
    CloseDevice();
    connected_ = false;
    throw;
  }
  if (events_.Empty()) {
    hasMonitor_ = false;
  } else {
    try {
      StartMonitor();
    } catch (...) {
      // No monitoring could be set up: leave nothing half open.
      StopMonitor();
      CloseDevice();
      connected_ = false;
      throw;
    }
  }
  HandleAfterOpen();
}

// The order matters: pending I/O ends before the thread stops, and the thread has
// ended before its window and the handle go.
void TCustomComPort::Close() {
  if (!connected_) return;
  RefuseCloseInOwnDelivery();
  HandleBeforeClose();
  try {
    AbortPendingIO();
  } catch (const EComPortExt& error) {
    // An unplugged device has already failed every pending request, so there is
    // nothing left to abort; refusing to close would keep the port open for good.
    if (!DeviceIsGone(error.OsErrorCode())) throw;
  }
  if (hasMonitor_) StopMonitor();
  CloseDevice();
  connected_ = false;
  HandleAfterClose();
}

// Closing waits for the event thread, which waits for (or is) the delivery that made
// this call: refuse at once, with the port left open and working, rather than hang.
void TCustomComPort::RefuseCloseInOwnDelivery() const {
  if (DeliveryRunningHere(*this)) throw EComPort(port_, kCloseInOwnHandler);
}

void TCustomComPort::OpenDevice() {
  const std::string path = "\\\\.\\" + port_;
  deviceHandle_ = winapi::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (deviceHandle_ == INVALID_HANDLE_VALUE) {
    const DWORD error = winapi::GetLastError();
    winapi::OutputDebugStringA(("CreateFile " + path).c_str());
    throw EComPortExt(port_, 1, error);
  }
}

void TCustomComPort::CloseDevice() {
  if (deviceHandle_ != INVALID_HANDLE_VALUE) winapi::CloseHandle(deviceHandle_);
  deviceHandle_ = INVALID_HANDLE_VALUE;
}

}  // namespace comport
