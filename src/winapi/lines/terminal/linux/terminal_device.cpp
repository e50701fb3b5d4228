#include "lines/terminal/linux/terminal_device.h"

#include "ports/linux/terminal_console.h"
#include "ports/linux/terminal_lock_file.h"
#include "ports/linux/terminal_other_users.h"
#include "ports/linux/terminal_refusal.h"
#include "lines/terminal/linux/terminal_settings.h"
#include "ports/linux/terminal_system_paths.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

// Errors that mean the device is not there (any more) rather than that a call was wrong.
bool DeviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// ENOTTY and EINVAL: the device has no such function (a pty has no modem lines).
bool NotSupported(int error) {
  return error == ENOTTY || error == EINVAL;
}

DWORD OpenErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return ERROR_ACCESS_DENIED;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      // Missing nodes, absent hardware (EIO, ENXIO, ENODEV) and anything that is not a
      // terminal read as "no such port", which is what a caller probing ports needs.
      return ERROR_FILE_NOT_FOUND;
  }
}

// The reason behind an errno of stat or open.
PortState StateFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return PortState::kPermissionDenied;
    case EBUSY:
      return PortState::kInUse;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
      return PortState::kMissing;
    default:
      return PortState::kFailed;
  }
}

int Retrying(auto call) {
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace

DWORD WindowsErrorFromErrno(int error) {
  if (DeviceGone(error)) return ERROR_DEVICE_NOT_CONNECTED;
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

std::unique_ptr<TerminalDevice> TerminalDevice::Open(const std::string& path, DWORD& windowsError) {
  const TerminalSystemPaths system = CurrentTerminalSystemPaths();
  TerminalRefusal refusal{path};
  auto fail = [&](DWORD error, PortState state) -> std::unique_ptr<TerminalDevice> {
    refusal.state = state;
    RecordTerminalRefusal(std::move(refusal));
    windowsError = error;
    return nullptr;
  };
  // The console is recognised before the open: opening a UART nobody holds starts it.
  struct stat node {};
  if (::stat(path.c_str(), &node) < 0)
    return fail(OpenErrorFromErrno(errno), StateFromErrno(errno));
  if (!S_ISCHR(node.st_mode)) return fail(ERROR_FILE_NOT_FOUND, PortState::kNotTerminal);
  if (IsSystemConsole(node.st_rdev, system.sysRoot)) {
    return fail(ERROR_ACCESS_DENIED, PortState::kConsole);
  }
  // Named when the open says "in use" without saying by whom.
  auto anyHolder = [&](dev_t device) {
    refusal.holder = OtherTerminalUser(device, system.procRoot).value_or(0);
  };

  const int fd =
      Retrying([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) {
    const int error = errno;
    const PortState state = StateFromErrno(error);
    if (state == PortState::kPermissionDenied) refusal.group = node.st_gid;
    if (state == PortState::kInUse) anyHolder(node.st_rdev);
    return fail(OpenErrorFromErrno(error), state);
  }
  std::unique_ptr<TerminalLockFile> lockFile;
  auto refuse = [&](DWORD error, PortState state) -> std::unique_ptr<TerminalDevice> {
    // Nothing about the terminal has changed yet; our exclusive flag, if set, is off.
    ::close(fd);
    return fail(error, state);
  };
  struct stat opened {};
  if (::fstat(fd, &opened) < 0 || !S_ISCHR(opened.st_mode) || !::isatty(fd)) {
    return refuse(ERROR_FILE_NOT_FOUND, PortState::kNotTerminal);
  }
  // The node may have been replaced between the look and the open.
  if (IsSystemConsole(opened.st_rdev, system.sysRoot)) {
    return refuse(ERROR_ACCESS_DENIED, PortState::kConsole);
  }
  if (Retrying([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0) {
    if (errno != EWOULDBLOCK) return refuse(OpenErrorFromErrno(errno), StateFromErrno(errno));
    anyHolder(opened.st_rdev);
    return refuse(ERROR_ACCESS_DENIED, PortState::kInUse);
  }
  // Root opens past another holder's exclusive flag; the flag still says it is taken.
  if (int exclusive = 0; ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    anyHolder(opened.st_rdev);
    return refuse(ERROR_ACCESS_DENIED, PortState::kInUse);
  }
  if (!TerminalLockFile::Claim(path, system.lockDirectories, lockFile, &refusal.holder)) {
    return refuse(ERROR_ACCESS_DENIED, PortState::kLocked);
  }
  if (::ioctl(fd, TIOCEXCL) < 0) return refuse(OpenErrorFromErrno(errno), StateFromErrno(errno));
  // Looked for only now: with the flag set, nobody but root can join after the look.
  if (const auto user = OtherTerminalUser(opened.st_rdev, system.procRoot)) {
    ::ioctl(fd, TIOCNXCL);
    refusal.holder = *user;
    return refuse(ERROR_ACCESS_DENIED, PortState::kInUse);
  }

  std::unique_ptr<TerminalDevice> device(new TerminalDevice(fd, path, std::move(lockFile)));
  auto found = std::make_unique<termios2>();
  if (::ioctl(fd, TCGETS2, found.get()) == 0) device->foundSettings_ = std::move(found);
  if (::ioctl(fd, TCFLSH, TCIOFLUSH) < 0 && DeviceGone(errno)) {
    return fail(ERROR_FILE_NOT_FOUND, PortState::kMissing);
  }
  // Windows ports ignore the carrier; losing it must not hang the line up.
  if (device->foundSettings_ && !(device->foundSettings_->c_cflag & CLOCAL)) {
    termios2 settings = *device->foundSettings_;
    settings.c_cflag |= CLOCAL;
    ::ioctl(fd, TCSETS2, &settings);
  }
  int lines = 0;
  device->hasModemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
  RecordTerminalRefusal(TerminalRefusal{path});
  windowsError = ERROR_SUCCESS;
  return device;
}

TerminalDevice::TerminalDevice(int fd, std::string path, std::unique_ptr<TerminalLockFile> lockFile)
    : lockFile_(std::move(lockFile)), fd_(fd), path_(std::move(path)) {}

TerminalDevice::~TerminalDevice() {
  if (foundSettings_) Retrying([&] { return ::ioctl(fd_, TCSETS2, foundSettings_.get()); });
  // TIOCEXCL outlives the last close; without this the next non-root open is refused.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

DWORD TerminalDevice::Configure(const DCB& dcb) {
  termios2 previous{};
  if (::ioctl(fd_, TCGETS2, &previous) < 0) return WindowsErrorFromErrno(errno);
  termios2 wanted = previous;
  if (const DWORD error = ApplyDcbToTermios(dcb, wanted); error != ERROR_SUCCESS) return error;
  if (Retrying([&] { return ::ioctl(fd_, TCSETS2, &wanted); }) < 0) {
    const int error = errno;
    return error == EINVAL ? ERROR_INVALID_PARAMETER : WindowsErrorFromErrno(error);
  }
  termios2 actual{};
  if (::ioctl(fd_, TCGETS2, &actual) < 0) return WindowsErrorFromErrno(errno);
  if (!RateTaken(dcb.BaudRate, actual)) {
    Retrying([&] { return ::ioctl(fd_, TCSETS2, &previous); });
    return ERROR_INVALID_PARAMETER;
  }
  return SetModemControl(dcb);
}

DWORD TerminalDevice::SetModemControl(const DCB& dcb) {
  int raise = 0;
  int lower = 0;
  (dcb.fDtrControl == DTR_CONTROL_DISABLE ? lower : raise) |= TIOCM_DTR;
  // With RTS handshaking the kernel drives RTS from here on; it starts raised.
  (dcb.fRtsControl == RTS_CONTROL_DISABLE ? lower : raise) |= TIOCM_RTS;
  for (const auto& [request, bits] : {std::pair{TIOCMBIS, raise}, std::pair{TIOCMBIC, lower}}) {
    if (bits == 0) continue;
    if (::ioctl(fd_, request, &bits) < 0 && !NotSupported(errno)) {
      return WindowsErrorFromErrno(errno);
    }
  }
  return ERROR_SUCCESS;
}

DWORD TerminalDevice::ModemStatus(DWORD& status) const {
  status = 0;
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) < 0) {
    return NotSupported(errno) ? ERROR_SUCCESS : WindowsErrorFromErrno(errno);
  }
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CAR) status |= MS_RLSD_ON;
  return ERROR_SUCCESS;
}

std::optional<TerminalCounters> TerminalDevice::Counters() const {
  serial_icounter_struct raw{};
  if (::ioctl(fd_, TIOCGICOUNT, &raw) < 0) return std::nullopt;
  return TerminalCounters{raw.cts,     raw.dsr,    raw.rng, raw.dcd,        raw.frame,
                          raw.overrun, raw.parity, raw.brk, raw.buf_overrun};
}

DWORD TerminalDevice::Purge(bool input, bool output) {
  if (!input && !output) return ERROR_SUCCESS;
  const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  if (::ioctl(fd_, TCFLSH, which) < 0) return WindowsErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

long TerminalDevice::Read(void* buffer, std::size_t size, DWORD& windowsError) {
  const ssize_t count = ::read(fd_, buffer, size);
  if (count > 0 || size == 0) return count;
  if (count == 0) {
    // In raw mode (VMIN = VTIME = 0) an empty queue and a hung-up line both read 0.
    pollfd state{fd_, 0, 0};
    if (::poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      windowsError = ERROR_DEVICE_NOT_CONNECTED;
      return -1;
    }
    return 0;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  windowsError = WindowsErrorFromErrno(errno);
  return -1;
}

long TerminalDevice::Write(const void* buffer, std::size_t size, DWORD& windowsError) {
  const ssize_t count = ::write(fd_, buffer, size);
  if (count >= 0) return count;
  if (errno == EAGAIN || errno == EINTR) return 0;
  windowsError = WindowsErrorFromErrno(errno);
  return -1;
}

}  // namespace winapi
