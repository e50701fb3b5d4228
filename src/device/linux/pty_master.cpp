#include "linux/pty_master.h"

#include <asm/termbits.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace device {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// In packet mode every read starts with a status byte: 0 (TIOCPKT_DATA) for data, else
// flags such as TIOCPKT_IOCTL. The kernel's header with these names clashes with
// <asm/termbits.h>, so the one flag needed is spelled out here.
constexpr std::uint8_t kPacketData = 0;
constexpr std::uint8_t kPacketIoctl = 64;

}  // namespace

PtyMaster::PtyMaster() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (!fd_.Valid()) Fail("posix_openpt");
  if (::grantpt(fd_.Get()) != 0 || ::unlockpt(fd_.Get()) != 0) Fail("unlockpt");
  char name[128] = {};
  if (::ptsname_r(fd_.Get(), name, sizeof name) != 0) Fail("ptsname_r");
  slavePath_ = name;
  int on = 1;
  if (::ioctl(fd_.Get(), TIOCPKT, &on) != 0) Fail("TIOCPKT");
  // A port opening the slave starts from raw 8-bit settings at the device's usual rate,
  // as a real adapter would; it sets its own anyway.
  termios2 settings{};
  if (::ioctl(fd_.Get(), TCGETS2, &settings) != 0) Fail("TCGETS2");
  settings.c_iflag = 0;
  settings.c_oflag = 0;
  settings.c_lflag = EXTPROC;
  settings.c_cflag = (settings.c_cflag & ~(CSIZE | PARENB | CBAUD | (CBAUD << IBSHIFT))) | CS8 |
                     CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = settings.c_ospeed = 19200;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::ioctl(fd_.Get(), TCSETS2, &settings) != 0) Fail("TCSETS2");
  // Our own change is reported as a packet too; it says nothing about a port.
  ReadAll();
}

std::uint32_t PtyMaster::Rate() const {
  termios2 settings{};
  if (::ioctl(fd_.Get(), TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

void PtyMaster::KeepExtproc() const {
  termios2 settings{};
  if (::ioctl(fd_.Get(), TCGETS2, &settings) != 0 || (settings.c_lflag & EXTPROC)) return;
  settings.c_lflag |= EXTPROC;
  ::ioctl(fd_.Get(), TCSETS2, &settings);
}

PtyMaster::Packets PtyMaster::ReadAll() const {
  Packets packets;
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd_.Get(), buffer, sizeof buffer);
    if (got > 0) {
      packets.any = true;
      if (buffer[0] == kPacketData) {
        packets.data.insert(packets.data.end(), buffer + 1, buffer + got);
      } else if (buffer[0] & kPacketIoctl) {
        packets.settingsChanged = true;
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EIO) packets.hungUp = true;
    return packets;
  }
}

bool PtyMaster::HungUp() const {
  pollfd state{fd_.Get(), 0, 0};
  return ::poll(&state, 1, 0) == 1 && (state.revents & POLLHUP);
}

bool PtyMaster::Write(std::span<const std::uint8_t> bytes) const {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd_.Get(), bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) {
      pollfd room{fd_.Get(), POLLOUT, 0};
      if (::poll(&room, 1, 1000) <= 0) return false;
      continue;
    }
    if (put <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace device
