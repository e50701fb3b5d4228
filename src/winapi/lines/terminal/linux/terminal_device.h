// One open terminal device: exclusive ownership of the descriptor and the ioctls the
// line back end needs, with every failure as a Windows error number.
#pragma once

#include "winapi/types.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

struct termios2;

namespace winapi {

class TerminalLockFile;

// The interrupt counters of a UART (TIOCGICOUNT); ptys have none.
struct TerminalCounters {
  int cts = 0;
  int dsr = 0;
  int ring = 0;
  int dcd = 0;
  int frame = 0;
  int overrun = 0;
  int parity = 0;
  int breaks = 0;
  int bufferOverrun = 0;
};

// The Windows error for a failed device call after the open succeeded.
DWORD WindowsErrorFromErrno(int error);

class TerminalDevice {
 public:
  // Opens `path` read-write, non-blocking, without becoming its controlling terminal,
  // for this handle alone (flock plus TIOCEXCL, as root ignores TIOCEXCL, plus a lock
  // file for other serial programs), and discards whatever the queues held. A
  // terminal someone else uses is refused before anything about it changes: the
  // system console, one with a live lock file or an exclusive flag, one another
  // process has open. Errors: ERROR_FILE_NOT_FOUND for a missing device or one that is
  // not a terminal, ERROR_ACCESS_DENIED when it is in use or not permitted.
  static std::unique_ptr<TerminalDevice> Open(const std::string& path, DWORD& windowsError);
  // Puts the terminal's settings back as Open found them.
  ~TerminalDevice();
  TerminalDevice(const TerminalDevice&) = delete;
  TerminalDevice& operator=(const TerminalDevice&) = delete;

  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Applies a DCB read-modify-write and sets DTR and RTS as it says. A DCB the device
  // cannot take (including a rate it refuses) gives ERROR_INVALID_PARAMETER and
  // leaves the previous settings in force.
  DWORD Configure(const DCB& dcb);

  // The modem input lines as an MS_ word; a device without modem lines reports 0.
  DWORD ModemStatus(DWORD& status) const;
  // The UART counters, or nothing when the device keeps none.
  std::optional<TerminalCounters> Counters() const;
  // Whether the device can wait for modem line changes (TIOCMIWAIT).
  bool SupportsModemWait() const { return hasModemLines_; }

  // Discards the kernel's input and/or output queue.
  DWORD Purge(bool input, bool output);

  // Non-blocking transfers: the byte count, 0 when the device would block, or -1 with
  // `windowsError` set (ERROR_DEVICE_NOT_CONNECTED once the far side has gone).
  long Read(void* buffer, std::size_t size, DWORD& windowsError);
  long Write(const void* buffer, std::size_t size, DWORD& windowsError);

 private:
  TerminalDevice(int fd, std::string path, std::unique_ptr<TerminalLockFile> lockFile);
  DWORD SetModemControl(const DCB& dcb);

  // Destroyed after the descriptor is closed: the lock file outlives our use.
  std::unique_ptr<TerminalLockFile> lockFile_;
  int fd_;
  std::string path_;
  std::unique_ptr<termios2> foundSettings_;
  bool hasModemLines_ = false;
};

}  // namespace winapi
