#include "comport/port.h"
#include "winapi/winapi.h"

#include <cstring>

namespace comport {

namespace {

// A record whose event could not be created never starts a request.
void RequireEvent(const AsyncOp& op, const std::string& port, std::uint8_t code) {
  if (!op.IoRequest.hEvent) throw EComPortExt(port, code, op.EventError);
}

}  // namespace

std::unique_ptr<AsyncOp> TCustomComPort::CreateAsyncOp() {
  auto op = std::make_unique<AsyncOp>();
  op->IoRequest = OVERLAPPED{};
  op->IoRequest.hEvent = winapi::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!op->IoRequest.hEvent) op->EventError = winapi::GetLastError();
  op->SentCopy.reset();
  op->SentCopyLength = 0;
  return op;
}

void TCustomComPort::DestroyAsyncOp(std::unique_ptr<AsyncOp>& Op) {
  if (!Op) return;
  if (Op->IoRequest.hEvent) {
    // The driver writes the outcome into the record when the request ends, so a
    // request still in flight (say, an observer threw right after it started) is
    // waited for, within the port's time-outs, rather than freed under the driver.
    if (Op->InFlight) winapi::WaitForSingleObject(Op->IoRequest.hEvent, INFINITE);
    winapi::CloseHandle(Op->IoRequest.hEvent);
  }
  Op.reset();
}

void TCustomComPort::StageWriteData(TAsyncDirection Direction, const void* Buffer,
                                    std::int32_t Count, AsyncOp* Op) {
  if (!Op) throw EComPort(port_, 4);
  Op->Direction = Direction;
  Op->SentCopy.reset();
  if (Count > 0) {
    Op->SentCopy = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(Count));
    std::memcpy(Op->SentCopy.get(), Buffer, static_cast<std::size_t>(Count));
  }
  Op->SentCopyLength = Count;
}

std::int32_t TCustomComPort::BeginWrite(const void* Buffer, std::int32_t Count, AsyncOp* Op) {
  if (!Op) throw EComPort(port_, 4);
  // A negative count would make the driver read far past the caller's buffer.
  if (Count < 0) throw EComPortExt(port_, 2, ERROR_INVALID_PARAMETER);
  RequireEvent(*Op, port_, 2);
  StageWriteData(adWrite, Buffer, Count, Op);
  DWORD written = 0;
  if (!winapi::WriteFile(deviceHandle_, Buffer, static_cast<DWORD>(Count), &written,
                         &Op->IoRequest)) {
    const DWORD error = winapi::GetLastError();
    if (error != ERROR_IO_PENDING) throw EComPortExt(port_, 2, error);
  }
  Op->InFlight = true;
  NotifyObservers(&PortObserver::TxActivity, true);
  return static_cast<std::int32_t>(written);
}

// Starts the read; false when it could not be started, so nothing is pending.
bool TCustomComPort::StartRead(void* Buffer, std::int32_t Count, AsyncOp& Op,
                               std::int32_t& Immediate) {
  Immediate = 0;
  if (Count < 1) return false;
  RequireEvent(Op, port_, 3);
  Op.Direction = adRead;
  static_cast<std::uint8_t*>(Buffer)[0] = 0xFF;
  DWORD read = 0;
  if (winapi::ReadFile(deviceHandle_, Buffer, static_cast<DWORD>(Count), &read, &Op.IoRequest) ||
      winapi::GetLastError() == ERROR_IO_PENDING) {
    Op.InFlight = true;
    Immediate = static_cast<std::int32_t>(read);
    return true;
  }
  return false;
}

std::int32_t TCustomComPort::BeginRead(void* Buffer, std::int32_t Count, AsyncOp* Op) {
  if (!Op) throw EComPort(port_, 4);
  std::int32_t immediate = 0;
  StartRead(Buffer, Count, *Op, immediate);
  return immediate;
}

std::int32_t TCustomComPort::WaitAsync(AsyncOp* Op) {
  if (!Op) throw EComPort(port_, 4);
  const std::uint8_t code = Op->Direction == adWrite ? 2 : 3;
  DWORD transferred = 0;
  const DWORD waited = winapi::WaitForSingleObject(Op->IoRequest.hEvent, INFINITE);
  if (waited == WAIT_OBJECT_0) Op->InFlight = false;
  if (waited != WAIT_OBJECT_0 ||
      !winapi::GetOverlappedResult(deviceHandle_, &Op->IoRequest, &transferred, FALSE)) {
    throw EComPortExt(port_, code, winapi::GetLastError());
  }
  // A read record may still hold the copy of an earlier write; that write was
  // reported when it finished, so only write records report BytesSent.
  if (Op->Direction == adRead) {
    if (RxQueueCount() == 0) NotifyObservers(&PortObserver::RxActivity, false);
  } else if (Op->SentCopy) {
    NotifyObservers(&PortObserver::BytesSent, static_cast<const std::uint8_t*>(Op->SentCopy.get()),
                    Op->SentCopyLength);
  }
  return static_cast<std::int32_t>(transferred);
}

std::int32_t TCustomComPort::Write(const void* Buffer, std::int32_t Count) {
  std::unique_ptr<AsyncOp> op = CreateAsyncOp();
  std::int32_t result = 0;
  try {
    BeginWrite(Buffer, Count, op.get());
    result = WaitAsync(op.get());
  } catch (...) {
    DestroyAsyncOp(op);
    throw;
  }
  DestroyAsyncOp(op);
  return result;
}

// A read that cannot be started returns 0 at once: its event may never be set again.
std::int32_t TCustomComPort::Read(void* Buffer, std::int32_t Count) {
  if (Count < 1) return 0;
  std::unique_ptr<AsyncOp> op = CreateAsyncOp();
  std::int32_t result = 0;
  try {
    std::int32_t immediate = 0;
    if (StartRead(Buffer, Count, *op, immediate)) result = WaitAsync(op.get());
  } catch (...) {
    DestroyAsyncOp(op);
    throw;
  }
  DestroyAsyncOp(op);
  return result;
}

std::int32_t TCustomComPort::RxQueueCount() {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!winapi::ClearCommError(deviceHandle_, &errors, &stat)) {
    throw EComPortExt(port_, 10, winapi::GetLastError());
  }
  return static_cast<std::int32_t>(stat.cbInQue);
}

TModemSignals TCustomComPort::ModemSignals() {
  DWORD status = 0;
  if (!winapi::GetCommModemStatus(deviceHandle_, &status)) {
    throw EComPortExt(port_, 11, winapi::GetLastError());
  }
  TModemSignals signals;
  if (status & MS_CTS_ON) signals.Include(msCTS);
  if (status & MS_DSR_ON) signals.Include(msDSR);
  if (status & MS_RING_ON) signals.Include(msRing);
  if (status & MS_RLSD_ON) signals.Include(msRLSD);
  return signals;
}

TComErrors TCustomComPort::ClearLineErrors() {
  DWORD flags = 0;
  COMSTAT stat{};
  if (!winapi::ClearCommError(deviceHandle_, &flags, &stat)) {
    throw EComPortExt(port_, 10, winapi::GetLastError());
  }
  TComErrors errors;
  if (flags & CE_FRAME) errors.Include(ceFrame);
  if ((flags & CE_RXPARITY) && parity_->Check()) errors.Include(ceRxParity);
  if (flags & CE_OVERRUN) errors.Include(ceOverrun);
  if (flags & CE_RXOVER) errors.Include(ceRxOver);
  if (flags & CE_TXFULL) errors.Include(ceTxFull);
  if (flags & CE_BREAK) errors.Include(ceBreak);
  if (flags & CE_IOE) errors.Include(ceIO);
  if (flags & CE_MODE) errors.Include(ceMode);
  return errors;
}

}  // namespace comport
