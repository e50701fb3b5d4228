#include "lines/terminal/linux/terminal_device.h"
#include "lines/terminal/linux/terminal_settings.h"
#include "terminal_test_pty.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace winapi {
namespace {

using testing::PtyPeer;

DCB MakeDcb(DWORD rate) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = rate;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

std::unique_ptr<TerminalDevice> OpenOrFail(const std::string& path) {
  DWORD error = 12345;
  auto device = TerminalDevice::Open(path, error);
  EXPECT_NE(device, nullptr) << path << " error " << error;
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
  return device;
}

DWORD OpenError(const std::string& path) {
  DWORD error = 0;
  auto device = TerminalDevice::Open(path, error);
  EXPECT_EQ(device, nullptr) << path;
  return error;
}

int ExclusiveFlag(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  int flag = -1;
  if (fd >= 0) {
    ::ioctl(fd, TIOCGEXCL, &flag);
    ::close(fd);
  }
  return flag;
}

TEST(TerminalDeviceTest, OpensExclusivelyAndReleasesOnClose) {
  PtyPeer peer;
  {
    auto device = OpenOrFail(peer.SlavePath());
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(::isatty(device->Descriptor()));
    EXPECT_TRUE(::fcntl(device->Descriptor(), F_GETFL) & O_NONBLOCK);
    // Refused even for root, which TIOCEXCL alone would let in.
    EXPECT_EQ(OpenError(peer.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ExclusiveFlag(peer.SlavePath()), 1);
  }
  // The exclusive flag would outlive the last close; it has to be cleared first.
  EXPECT_EQ(ExclusiveFlag(peer.SlavePath()), 0);
  EXPECT_NE(OpenOrFail(peer.SlavePath()), nullptr);
}

TEST(TerminalDeviceTest, ARefusedSecondOpenLeavesTheFirstExclusive) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  EXPECT_EQ(OpenError(peer.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ExclusiveFlag(peer.SlavePath()), 1);
  EXPECT_EQ(OpenError(peer.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(TerminalDeviceTest, RefusesWhatIsNoTerminal) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("pz-terminal-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "file") << "data";
  EXPECT_EQ(OpenError("/dev/null"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenError((dir / "file").string()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenError(dir.string()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenError((dir / "missing").string()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenError((dir / "file" / "below").string()), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::filesystem::remove_all(dir);
}

TEST(TerminalDeviceTest, DiscardsStaleInputOnOpen) {
  PtyPeer peer;
  {
    // Someone else's session leaves a line behind (the pty is still canonical).
    const int other = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    peer.Send({'a', 'b', '\n'});
    pollfd fd{other, POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, 10000), 1);
    ::close(other);
  }
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  std::uint8_t buffer[8];
  DWORD error = 0;
  EXPECT_EQ(device->Read(buffer, sizeof buffer, error), 0);
}

TEST(TerminalDeviceTest, ConfiguresRatesStandardAndCustom) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);

  ASSERT_EQ(device->Configure(MakeDcb(9600)), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(peer.Settings().c_cflag & CBAUD, static_cast<tcflag_t>(B9600));

  ASSERT_EQ(device->Configure(MakeDcb(115200)), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(peer.Settings().c_cflag & CBAUD, static_cast<tcflag_t>(B115200));

  ASSERT_EQ(device->Configure(MakeDcb(31250)), static_cast<DWORD>(ERROR_SUCCESS));
  const termios2 custom = peer.Settings();
  EXPECT_EQ(custom.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(custom.c_ospeed, 31250u);
  EXPECT_EQ(custom.c_ispeed, 31250u);
  EXPECT_EQ(TermiosRate(custom), 31250u);
}

TEST(TerminalDeviceTest, ConfigurationIsRawAndKeepsFlagsItDoesNotOwn) {
  PtyPeer peer;
  termios2 before = peer.Settings();
  // The far side uses packet mode with EXTPROC to learn the rate; that must survive.
  before.c_lflag |= EXTPROC | ICANON | ECHO | ISIG;
  before.c_iflag |= ICRNL;
  before.c_oflag |= OPOST;
  peer.SetSettings(before);

  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  DCB dcb = MakeDcb(19200);
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_EQ(device->Configure(dcb), static_cast<DWORD>(ERROR_SUCCESS));

  const termios2 after = peer.Settings();
  EXPECT_TRUE(after.c_lflag & EXTPROC);
  EXPECT_FALSE(after.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(after.c_iflag & ICRNL);
  EXPECT_FALSE(after.c_oflag & OPOST);
  EXPECT_TRUE(after.c_iflag & IXON);
  EXPECT_TRUE(after.c_iflag & IXOFF);
  EXPECT_EQ(after.c_cc[VSTART], 0x11);
  EXPECT_EQ(after.c_cc[VSTOP], 0x13);
  EXPECT_EQ(after.c_cc[VMIN], 0);
  EXPECT_EQ(after.c_cc[VTIME], 0);
  EXPECT_TRUE(after.c_cflag & CLOCAL);
  EXPECT_TRUE(after.c_cflag & CREAD);
}

TEST(TerminalDeviceTest, RefusedSettingsLeaveTheLineAsItWas) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->Configure(MakeDcb(57600)), static_cast<DWORD>(ERROR_SUCCESS));
  const termios2 good = peer.Settings();

  std::vector<DCB> refused;
  refused.push_back(MakeDcb(0));
  for (BYTE size : {0, 4, 9}) {
    refused.push_back(MakeDcb(4800));
    refused.back().ByteSize = size;
  }
  refused.push_back(MakeDcb(4800));
  refused.back().Parity = 5;
  refused.push_back(MakeDcb(4800));
  refused.back().StopBits = ONE5STOPBITS;  // only with 5 data bits
  refused.push_back(MakeDcb(4800));
  refused.back().StopBits = 3;
  refused.push_back(MakeDcb(4800));
  refused.back().fDtrControl = DTR_CONTROL_HANDSHAKE;
  refused.push_back(MakeDcb(4800));
  refused.back().fRtsControl = RTS_CONTROL_TOGGLE;
  refused.push_back(MakeDcb(4800));
  refused.back().fOutxDsrFlow = 1;

  for (const DCB& dcb : refused) {
    EXPECT_EQ(device->Configure(dcb), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        << "rate " << dcb.BaudRate << " size " << int{dcb.ByteSize} << " parity " << int{dcb.Parity}
        << " stop " << int{dcb.StopBits};
    const termios2 now = peer.Settings();
    EXPECT_EQ(now.c_cflag, good.c_cflag);
    EXPECT_EQ(now.c_ospeed, good.c_ospeed);
  }
}

TEST(TerminalSettingsTest, CharacterFormatAndHandshake) {
  termios2 tio{};
  DCB dcb = MakeDcb(9600);
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
            static_cast<tcflag_t>(CS7 | PARENB | CSTOPB));

  dcb.ByteSize = 5;
  dcb.StopBits = ONE5STOPBITS;
  dcb.Parity = MARKPARITY;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
            static_cast<tcflag_t>(CS5 | PARENB | PARODD | CMSPAR | CSTOPB));

  dcb.ByteSize = 6;
  dcb.StopBits = ONESTOPBIT;
  dcb.Parity = SPACEPARITY;
  dcb.fParity = 1;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
            static_cast<tcflag_t>(CS6 | PARENB | CMSPAR));
  EXPECT_TRUE(tio.c_iflag & INPCK);

  dcb.Parity = ODDPARITY;
  dcb.fParity = 0;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_FALSE(tio.c_iflag & INPCK);
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);

  dcb.fOutxCtsFlow = 1;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_EQ(ApplyDcbToTermios(dcb, tio), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
}

TEST(TerminalSettingsTest, RateTolerance) {
  termios2 tio{};
  tio.c_cflag = BOTHER;
  tio.c_ospeed = 31250;
  EXPECT_TRUE(RateTaken(31250, tio));
  tio.c_ospeed = 31000;  // within 2 %
  EXPECT_TRUE(RateTaken(31250, tio));
  tio.c_ospeed = 30000;
  EXPECT_FALSE(RateTaken(31250, tio));
  tio.c_cflag = B0;
  EXPECT_FALSE(RateTaken(9600, tio));
}

TEST(TerminalDeviceTest, APtyHasNoModemLinesAndThatIsNoFailure) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  DCB dcb = MakeDcb(9600);
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  EXPECT_EQ(device->Configure(dcb), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD status = 0xFFFF;
  EXPECT_EQ(device->ModemStatus(status), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(status, 0u);
  EXPECT_FALSE(device->Counters().has_value());
  EXPECT_FALSE(device->SupportsModemWait());
}

TEST(TerminalDeviceTest, PurgeDiscardsReceivedBytes) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->Configure(MakeDcb(9600)), static_cast<DWORD>(ERROR_SUCCESS));
  peer.Send({1, 2, 3, 4});
  pollfd fd{device->Descriptor(), POLLIN, 0};
  ASSERT_EQ(::poll(&fd, 1, 10000), 1);
  EXPECT_EQ(device->Purge(true, false), static_cast<DWORD>(ERROR_SUCCESS));
  std::uint8_t buffer[8];
  DWORD error = 0;
  EXPECT_EQ(device->Read(buffer, sizeof buffer, error), 0);
  peer.Send({5});
  ASSERT_EQ(::poll(&fd, 1, 10000), 1);
  ASSERT_EQ(device->Read(buffer, sizeof buffer, error), 1);
  EXPECT_EQ(buffer[0], 5);
}

TEST(TerminalDeviceTest, TransfersFailOnceTheFarSideHasGone) {
  PtyPeer peer;
  auto device = OpenOrFail(peer.SlavePath());
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->Configure(MakeDcb(9600)), static_cast<DWORD>(ERROR_SUCCESS));
  peer.CloseMaster();
  std::uint8_t buffer[8] = {};
  DWORD error = 0;
  EXPECT_EQ(device->Write(buffer, sizeof buffer, error), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  error = 0;
  EXPECT_EQ(device->Read(buffer, sizeof buffer, error), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

}  // namespace
}  // namespace winapi
