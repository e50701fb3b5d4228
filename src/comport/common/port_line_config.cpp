#include "comport/port.h"
#include "winapi/winapi.h"

#include <array>

namespace comport {

namespace {

constexpr std::array<DWORD, 16> kBaudRates = {0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};
constexpr std::array<BYTE, 4> kByteSizes = {5, 6, 7, 8};
constexpr std::array<BYTE, 5> kParities = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY,
                                           SPACEPARITY};
constexpr std::array<BYTE, 3> kStopBits = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
constexpr std::array<DWORD, 3> kDtrControls = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE,
                                               DTR_CONTROL_HANDSHAKE};
constexpr std::array<DWORD, 4> kRtsControls = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE,
                                               RTS_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE};

}  // namespace

void TCustomComPort::ApplySettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

// The block is rebuilt from the settings every time; nothing is read back.
void TCustomComPort::ApplyLineSettings() {
  if (!connected_ || Loading()) return;
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate =
      baudRate_ == brCustom ? static_cast<DWORD>(customBaudRate_) : kBaudRates.at(baudRate_);
  dcb.fBinary = 1;
  dcb.fParity = parity_->Check() ? 1 : 0;
  dcb.fOutxCtsFlow = flowControl_->OutCTSFlow() ? 1 : 0;
  dcb.fOutxDsrFlow = flowControl_->OutDSRFlow() ? 1 : 0;
  dcb.fDtrControl = kDtrControls.at(flowControl_->ControlDTR());
  dcb.fDsrSensitivity = flowControl_->DSRSensitivity() ? 1 : 0;
  dcb.fTXContinueOnXoff = flowControl_->TxContinueOnXoff() ? 1 : 0;
  dcb.fOutX = flowControl_->XonXoffOut() ? 1 : 0;
  dcb.fInX = flowControl_->XonXoffIn() ? 1 : 0;
  const bool replaceErrors = parity_->Check() && parity_->Replace();
  dcb.fErrorChar = replaceErrors ? 1 : 0;
  dcb.fNull = discardNull_ ? 1 : 0;
  dcb.fRtsControl = kRtsControls.at(flowControl_->ControlRTS());
  const auto limit = static_cast<WORD>(buffer_->InputSize() / 4);
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.ByteSize = kByteSizes.at(dataBits_);
  dcb.Parity = kParities.at(parity_->Bits());
  dcb.StopBits = kStopBits.at(stopBits_);
  dcb.XonChar = flowControl_->XonChar();
  dcb.XoffChar = flowControl_->XoffChar();
  dcb.ErrorChar = replaceErrors ? parity_->ReplaceChar() : 0;
  dcb.EofChar = 0;
  dcb.EvtChar = eventChar_;
  if (!winapi::SetCommState(deviceHandle_, &dcb)) {
    throw EComPortExt(port_, 7, winapi::GetLastError());
  }
}

// Signed settings go over bit for bit, so -1 becomes MAXDWORD.
void TCustomComPort::ApplyTimeoutSettings() {
  if (!connected_ || Loading()) return;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = static_cast<DWORD>(timeouts_->ReadInterval());
  timeouts.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_->ReadTotalMultiplier());
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts_->ReadTotalConstant());
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_->WriteTotalMultiplier());
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts_->WriteTotalConstant());
  if (!winapi::SetCommTimeouts(deviceHandle_, &timeouts)) {
    throw EComPortExt(port_, 8, winapi::GetLastError());
  }
}

void TCustomComPort::ApplyBufferSizes() {
  if (!connected_ || Loading()) return;
  if (!winapi::SetupComm(deviceHandle_, static_cast<DWORD>(buffer_->InputSize()),
                         static_cast<DWORD>(buffer_->OutputSize()))) {
    throw EComPortExt(port_, 9, winapi::GetLastError());
  }
}

// Pending requests end at once; the queued bytes stay where they are.
void TCustomComPort::AbortPendingIO() {
  if (!winapi::PurgeComm(deviceHandle_, PURGE_TXABORT | PURGE_RXABORT)) {
    throw EComPortExt(port_, 5, winapi::GetLastError());
  }
}

}  // namespace comport
