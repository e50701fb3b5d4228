// A virtual line: an in-process serial device registered under a port name. The port
// side opens it with CreateFileA("\\\\.\\" + name) like any COM port; the far side, held
// by a test or by the emulated device, is this object.
#pragma once

#include "winapi/types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace winapi {

// The driver calls a virtual line records or can be told to fail.
enum class DriverCall {
  CreateFile,
  CloseHandle,
  SetupComm,
  SetCommState,
  GetCommState,
  SetCommTimeouts,
  GetCommTimeouts,
  SetCommMask,
  WaitCommEvent,
  ReadFile,
  WriteFile,
  GetOverlappedResult,
  ClearCommError,
  PurgeComm,
  GetCommModemStatus,
};

// One configuration call the port handed the driver, as it was handed over.
// Only the fields of `call` are meaningful.
struct DriverRecord {
  DriverCall call{};
  DCB dcb{};                // SetCommState
  COMMTIMEOUTS timeouts{};  // SetCommTimeouts
  DWORD inQueue = 0;        // SetupComm
  DWORD outQueue = 0;       // SetupComm
  DWORD mask = 0;           // SetCommMask
  DWORD purgeFlags = 0;     // PurgeComm
};

class VirtualLineState;

class VirtualLine {
 public:
  // Registers a line under `name` (such as "COM5" or "VL1"); the name is free again
  // when the returned object is destroyed. Throws std::invalid_argument if taken.
  static std::shared_ptr<VirtualLine> Create(const std::string& name);
  ~VirtualLine();
  VirtualLine(const VirtualLine&) = delete;
  VirtualLine& operator=(const VirtualLine&) = delete;

  const std::string& Name() const;
  bool IsOpen() const;
  // Waits until the port side has the line open (or closed); false on time-out.
  bool WaitOpen(bool open, std::chrono::milliseconds limit) const;

  // Bytes the port transmitted. ReadSent waits until `count` bytes are there or the
  // limit passes and returns what it has (at most `count`); TakeSent returns all at once.
  std::vector<std::uint8_t> ReadSent(std::size_t count, std::chrono::milliseconds limit);
  std::vector<std::uint8_t> TakeSent();

  // Bytes the port receives, as one burst.
  void Inject(std::span<const std::uint8_t> bytes);
  void Inject(std::initializer_list<std::uint8_t> bytes);
  // Bytes the port receives in bursts of `burstSize` with `gap` between them; returns when
  // the last burst is injected.
  void InjectInBursts(std::span<const std::uint8_t> bytes, std::size_t burstSize,
                      std::chrono::milliseconds gap);
  // Injected bytes the driver has not taken yet because its receive queue is full.
  std::size_t PendingReceive() const;

  // Modem input lines as a GetCommModemStatus word (MS_CTS_ON | MS_DSR_ON | ...);
  // changes raise EV_CTS, EV_DSR, EV_RLSD and EV_RING (ring on its rising edge).
  void SetModemStatus(DWORD status);
  // Line errors as a CE_ word (CE_FRAME, CE_OVERRUN, CE_RXPARITY ...): EV_ERR.
  void RaiseLineErrors(DWORD ceFlags);
  // A break on input: CE_BREAK and EV_BREAK.
  void RaiseBreak();
  // While held, the line takes no bytes from the transmit queue, as flow control would.
  void HoldTransmission(bool hold);
  // The device goes away: pending and later requests fail with ERROR_DEVICE_NOT_CONNECTED
  // (opening it again fails with ERROR_FILE_NOT_FOUND) until Reconnect. As with an
  // unplugged adapter, a handle open at that moment stays dead after Reconnect; only a
  // new CreateFileA reaches the line again. Destroying the far side disconnects it too.
  void Disconnect();
  void Reconnect();

  // The next `times` calls of `call` (all of them when times < 0) fail with `error`.
  void FailCall(DriverCall call, DWORD error, int times = -1);
  void ClearFailures();

  // The configuration calls (SetupComm, SetCommState, SetCommTimeouts, SetCommMask,
  // PurgeComm) in the order the port made them since the line was created or cleared,
  // each as handed over: calls the driver then refused are recorded too.
  std::vector<DriverRecord> Records() const;
  void ClearRecords();

  // How many times the port side has opened the line.
  int OpenCount() const;

  // For a far side served by a thread of its own (an emulated device):
  // The DCB the port last handed the driver (all zero before the first).
  DCB CommState() const;
  // A count that grows whenever the far side may have something to do: the port sent
  // bytes, handed the driver a configuration, opened or closed the line, or Notify ran.
  std::uint64_t Activity() const;
  // Waits until Activity() differs from `seen` or `deadline` passes; returns Activity().
  std::uint64_t WaitActivity(std::uint64_t seen,
                             std::chrono::steady_clock::time_point deadline) const;
  // Wakes WaitActivity, for a far side that is asked to stop.
  void Notify();

 private:
  explicit VirtualLine(std::shared_ptr<VirtualLineState> state);
  std::shared_ptr<VirtualLineState> state_;
};

}  // namespace winapi
