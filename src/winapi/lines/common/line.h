// The back end a comm device sits on: a terminal, a virtual line, ... The driver model
// (one per open device) owns the Line and is its only LineSink.
//
// Locking contract, so the two sides can never deadlock:
//  - The driver calls Line methods while holding its own mutex. A Line method therefore
//    never calls back into the sink and never waits for anything the sink could be doing;
//    it may take a short lock of its own.
//  - The back end calls the sink from its own thread (a worker, or the far side of a
//    virtual line), or from a thread waiting on the input wait event (see
//    SetInputWaitEvent), never while holding a lock of its own that a Line method takes.
//  - Stop() is called without the driver mutex held; when it returns no sink call is in
//    progress and none will follow.
#pragma once

#include "winapi/types.h"
#include "winapi/virtual_line.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace winapi::driver {

class LineSink {
 public:
  virtual ~LineSink() = default;

  // Received bytes are waiting in the back end. The driver pulls them with Line::Receive
  // as far as its receive queue has room (nothing is dropped: the rest waits in the back
  // end). After this call the back end need not call it again until a Receive call has
  // returned fewer bytes than asked for (that is, drained it).
  virtual void OnReceiveReady() = 0;
  // The line can take more bytes after Line::Transmit took fewer than it was offered.
  virtual void OnTransmitReady() = 0;
  // The modem input lines changed: the new GetCommModemStatus word (MS_CTS_ON | ...), and
  // the lines (MS_ bits) known to have changed and changed back since the last report.
  virtual void OnModemStatus(DWORD modemStatus, DWORD changedBack = 0) = 0;
  // Line errors on input: CE_FRAME, CE_OVERRUN and/or CE_RXPARITY.
  virtual void OnLineErrors(DWORD ceFlags) = 0;
  // A break condition on input.
  virtual void OnBreak() = 0;
  // The device went away (an unplugged adapter, a closed far side). Pending and later
  // requests fail with `windowsError`; the back end makes no further sink calls.
  virtual void OnGone(DWORD windowsError) = 0;
};

class Line {
 public:
  virtual ~Line() = default;

  // Begins reporting to `sink`; called once, before any other method.
  virtual void Start(LineSink& sink) = 0;
  // Ends reporting (see the contract above); called once, before destruction.
  virtual void Stop() = 0;

  // Applies line settings. Returns 0, or a Windows error (ERROR_INVALID_PARAMETER for
  // settings the line cannot take) and then leaves the line as it was.
  virtual DWORD ApplyState(const DCB& dcb) = 0;

  // Takes up to bytes.size() bytes for transmission without blocking and returns how
  // many it took. When it takes fewer, OnTransmitReady follows once it can take more.
  virtual std::size_t Transmit(std::span<const std::uint8_t> bytes) = 0;

  // Moves up to dest.size() received bytes into `dest` without blocking; returns the
  // count. Returning fewer than dest.size() means the back end is drained and re-arms
  // OnReceiveReady.
  virtual std::size_t Receive(std::span<std::uint8_t> dest) = 0;

  // The current modem input lines as a GetCommModemStatus word (0 when the line has none).
  virtual DWORD ModemStatus() = 0;

  // Discards the back end's own buffers: PURGE_TXCLEAR the bytes taken but not yet sent,
  // PURGE_RXCLEAR the bytes received but not yet pulled. Other flags are ignored.
  virtual void Purge(DWORD purgeFlags) = 0;

  // The event of the pending wait that received bytes would complete, or null when there
  // is none. A back end whose input a thread can watch itself may let the threads waiting
  // on this event do so: they wake straight from the line, not through the back end's
  // own thread.
  virtual void SetInputWaitEvent(HANDLE /*event*/) {}

  // Test hooks of virtual lines. CheckCall returns the Windows error a driver call must
  // fail with (0: go on); RecordCall sees the configuration the port hands over.
  virtual DWORD CheckCall(DriverCall /*call*/) { return 0; }
  virtual void RecordCall(const DriverRecord& /*record*/) {}
};

}  // namespace winapi::driver
