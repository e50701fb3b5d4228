// Test equipment, loaded with LD_PRELOAD into the cross-built programs that run under
// qemu-user, never shipped.
//
// qemu-user 7.2 (Debian 12) does not pass the termios2 requests TCGETS2 and TCSETS2 on to
// the kernel: it answers ENOSYS. The terminal lines and the emulated device set and read a
// port's rate with them, as they do on a real ARM board, whose kernel has them. Where qemu
// refuses them this library answers them with TCGETS and TCSETS, which qemu translates: the
// same fields, the rate as its standard B-code. A rate without a code is refused with EINVAL,
// as a driver refuses a rate it cannot make. Every other call goes to the C library untouched.
#include <asm/termbits.h>
#include <dlfcn.h>
#include <sys/ioctl.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction NextIoctl() {
  static const auto next = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  return next;
}

constexpr std::array<std::pair<speed_t, tcflag_t>, 30> kRateCodes{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

speed_t RateOfCode(tcflag_t code) {
  for (const auto& [rate, known] : kRateCodes) {
    if (known == code) return rate;
  }
  return 0;
}

// The B-code for a termios2 rate field: the code itself, or the rate's code under BOTHER.
bool CodeForRate(tcflag_t code, speed_t rate, tcflag_t& out) {
  if (code != BOTHER) {
    out = code;
    return true;
  }
  for (const auto& [known, rateCode] : kRateCodes) {
    if (known == rate) {
      out = rateCode;
      return true;
    }
  }
  return false;
}

int GetWithTermios(IoctlFunction next, int fd, termios2* settings) {
  termios old{};
  if (next(fd, TCGETS, &old) != 0) return -1;
  std::memcpy(settings, &old, sizeof old);
  settings->c_ospeed = RateOfCode(old.c_cflag & CBAUD);
  const tcflag_t input = (old.c_cflag >> IBSHIFT) & CBAUD;
  settings->c_ispeed = input == 0 ? settings->c_ospeed : RateOfCode(input);
  return 0;
}

int SetWithTermios(IoctlFunction next, int fd, unsigned long request, const termios2* settings) {
  tcflag_t output = 0;
  tcflag_t input = 0;
  const tcflag_t inputField = (settings->c_cflag >> IBSHIFT) & CBAUD;
  if (!CodeForRate(settings->c_cflag & CBAUD, settings->c_ospeed, output) ||
      (inputField != 0 && !CodeForRate(inputField, settings->c_ispeed, input))) {
    errno = EINVAL;
    return -1;
  }
  termios old{};
  std::memcpy(&old, settings, sizeof old);
  old.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  old.c_cflag |= output | (input << IBSHIFT);
  const unsigned long plain = request == TCSETSW2   ? TCSETSW
                              : request == TCSETSF2 ? TCSETSF
                                                    : TCSETS;
  return next(fd, plain, &old);
}

// The programs this one starts get the library again from the emulator's command line when
// they run under it; the build machine's own programs (socat, python3) cannot load it and
// would complain on their standard error.
[[gnu::constructor]] void ForgetPreload() {
  ::unsetenv("LD_PRELOAD");
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
  if (result >= 0 || errno != ENOSYS || !argument) return result;
  switch (request) {
    case TCGETS2:
      return GetWithTermios(next, fd, static_cast<termios2*>(argument));
    case TCSETS2:
    case TCSETSW2:
    case TCSETSF2:
      return SetWithTermios(next, fd, request, static_cast<const termios2*>(argument));
    default:
      errno = ENOSYS;
      return result;
  }
}
