// Test equipment, loaded into Wine's processes with LD_PRELOAD, never shipped.
//
// A pseudo-terminal has no modem lines: the kernel answers the modem-line ioctls with
// ENOTTY, and Wine turns that into a failing GetCommModemStatus and WaitCommEvent (error
// 50), so a port on a pty cannot even be opened by a program that reads its lines. On a
// pty slave this library answers those ioctls as a port whose lines are all off and never
// change would: TIOCMGET gives no lines, TIOCGICOUNT gives zero counters, and TIOCMIWAIT
// waits until the far side hangs up. Every other call goes to the C library untouched.
#include <dlfcn.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

// Unix98 pty slaves use majors 136..143 (UNIX98_PTY_SLAVE_MAJOR and the seven after it).
bool IsPtySlave(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
  const unsigned int deviceMajor = major(status.st_rdev);
  return deviceMajor >= 136 && deviceMajor <= 143;
}

IoctlFunction NextIoctl() {
  static const auto next = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  return next;
}

// The lines never change, so a wait for a change ends only when the line goes away.
int WaitForHangUp(int fd) {
  pollfd watch{fd, 0, 0};
  while (poll(&watch, 1, -1) < 0) {
    if (errno != EINTR) return -1;
  }
  errno = EIO;
  return -1;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);

  const IoctlFunction next = NextIoctl();
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  const int result = next(fd, request, argument);
  const int error = errno;
  if (result >= 0 || (error != ENOTTY && error != EINVAL) || !IsPtySlave(fd)) {
    errno = error;
    return result;
  }

  switch (request) {
    case TIOCMGET:
      if (argument) *static_cast<int*>(argument) = 0;
      return 0;
    case TIOCGICOUNT:
      if (argument) std::memset(argument, 0, sizeof(serial_icounter_struct));
      return 0;
    case TIOCMIWAIT:
      return WaitForHangUp(fd);
    default:
      errno = error;
      return result;
  }
}
