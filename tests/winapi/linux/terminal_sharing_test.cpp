// A terminal someone else uses is refused before anything about it changes, and one we
// used is handed back as we found it.
#include "ports/linux/terminal_console.h"
#include "lines/terminal/linux/terminal_device.h"
#include "ports/linux/terminal_lock_file.h"
#include "socat_pair.h"
#include "terminal_test_pty.h"
#include "terminal_test_system.h"

#include "winapi/port_probe.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace winapi {
namespace {

using testing::ChildProcess;
using testing::PrivateTerminalSystem;
using testing::PtyPeer;
using testing::ReadText;
using testing::SocatPair;
using testing::WaitFor;

std::string DeviceNumber(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
}

DWORD SharedOpenError(const std::string& path) {
  DWORD error = 0;
  auto device = TerminalDevice::Open(path, error);
  EXPECT_EQ(device, nullptr) << path;
  return error;
}

std::unique_ptr<TerminalDevice> OpenSharedOrFail(const std::string& path) {
  DWORD error = 0;
  auto device = TerminalDevice::Open(path, error);
  EXPECT_NE(device, nullptr) << path << " error " << error;
  return device;
}

DCB RawDcb(DWORD rate) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = rate;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

void ExpectSameSettings(const termios2& actual, const termios2& expected) {
  EXPECT_EQ(actual.c_iflag, expected.c_iflag);
  EXPECT_EQ(actual.c_oflag, expected.c_oflag);
  EXPECT_EQ(actual.c_cflag, expected.c_cflag);
  EXPECT_EQ(actual.c_lflag, expected.c_lflag);
  EXPECT_EQ(actual.c_ispeed, expected.c_ispeed);
  EXPECT_EQ(actual.c_ospeed, expected.c_ospeed);
  for (std::size_t i = 0; i < NCCS; ++i) {
    EXPECT_EQ(actual.c_cc[i], expected.c_cc[i]) << "c_cc[" << i << "]";
  }
}

// Another program's line: a login-style terminal with a line of input waiting for it.
class TerminalSharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    termios2 settings = peer_.Settings();
    settings.c_cflag = (settings.c_cflag & ~(CBAUD | CLOCAL | CSIZE)) | B4800 | CS7 | HUPCL;
    settings.c_ispeed = settings.c_ospeed = 4800;
    settings.c_lflag |= ICANON | ECHO | ISIG;
    settings.c_iflag |= ICRNL;
    settings.c_oflag |= OPOST;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    peer_.SetSettings(settings);
    found_ = peer_.Settings();
    watcher_ = ::open(peer_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(watcher_, 0);
    peer_.Send({'l', 's', '\n'});
    ASSERT_TRUE(WaitFor([&] { return PendingInput() == 3; }));
  }
  void TearDown() override {
    if (watcher_ >= 0) ::close(watcher_);
  }

  int PendingInput() const {
    int count = -1;
    ::ioctl(watcher_, FIONREAD, &count);
    return count;
  }

  // A refused open changed nothing: not the settings, not the waiting input.
  void ExpectUntouched() {
    ExpectSameSettings(peer_.Settings(), found_);
    EXPECT_EQ(PendingInput(), 3);
  }

  PtyPeer peer_;
  PrivateTerminalSystem system_;
  termios2 found_{};
  // Our own look at the input queue; descriptors of this process do not count as users.
  int watcher_ = -1;
};

TEST_F(TerminalSharingTest, TheSystemConsoleIsRefused) {
  system_.AddTty("console", "5:1", "ttyS9 hvc0");
  system_.AddTty("hvc0", "229:0");
  system_.AddTty("ttyS9", DeviceNumber(peer_.SlavePath()));
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();

  // A link to the console is the console.
  const auto link = system_.Root() / "serial-link";
  std::filesystem::create_symlink(peer_.SlavePath(), link);
  EXPECT_EQ(SharedOpenError(link.string()), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Once the console moves elsewhere, the terminal is free.
  system_.AddTty("ttyS9", "4:73");
  EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
}

TEST_F(TerminalSharingTest, AConsoleOnTheForegroundVirtualTerminalIsFollowed) {
  system_.AddTty("console", "5:1", "tty0");
  system_.AddTty("tty0", "4:0", "tty7");
  system_.AddTty("tty7", DeviceNumber(peer_.SlavePath()));
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();

  system_.AddTty("tty0", "4:0", "tty2");
  system_.AddTty("tty2", "4:2");
  EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
}

TEST(TerminalConsoleTest, AliasesAreConsolesAndOddNamesAreIgnored) {
  PrivateTerminalSystem system;
  for (const auto& [major, minor] : {std::pair{5u, 1u}, {4u, 0u}, {5u, 0u}}) {
    EXPECT_TRUE(IsSystemConsole(makedev(major, minor), system.SysRoot())) << major << ":" << minor;
  }
  EXPECT_FALSE(IsSystemConsole(makedev(4, 64), system.SysRoot()));

  // Names that would leave the tty folder are not followed.
  system.AddTty("console", "5:1", "../escape ./ttyS0");
  std::filesystem::create_directories(system.SysRoot() / "class" / "escape");
  std::ofstream(system.SysRoot() / "class" / "escape" / "dev") << "4:64\n";
  system.AddTty("ttyS0", "4:64");
  EXPECT_FALSE(IsSystemConsole(makedev(4, 64), system.SysRoot()));

  // A loop of names ends.
  system.AddTty("console", "5:1", "tty0");
  system.AddTty("tty0", "4:0", "tty0");
  EXPECT_FALSE(IsSystemConsole(makedev(4, 64), system.SysRoot()));
}

TEST_F(TerminalSharingTest, ALiveLockFileKeepsThePortAndOurOwnComesAndGoes) {
  const auto lockPath = system_.LockFolder() / LockFileName(peer_.SlavePath());
  {
    ChildProcess other;
    ASSERT_TRUE(other.Started());
    std::ofstream(lockPath) << other.Pid() << "\n";
    EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ExpectUntouched();
    EXPECT_EQ(ReadText(lockPath), std::to_string(other.Pid()) + "\n");
  }
  // Its owner has ended without removing it.
  char ours[16];
  std::snprintf(ours, sizeof ours, "%10d\n", static_cast<int>(::getpid()));
  {
    auto device = OpenSharedOrFail(peer_.SlavePath());
    EXPECT_EQ(ReadText(lockPath), ours);
  }
  EXPECT_FALSE(std::filesystem::exists(lockPath));
}

TEST_F(TerminalSharingTest, ATerminalAnotherProcessHasOpenIsRefused) {
  ChildProcess holder(peer_.SlavePath());
  ASSERT_TRUE(holder.Started());
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();
  // The refusal leaves no lock file and no exclusive flag behind.
  EXPECT_TRUE(std::filesystem::is_empty(system_.LockFolder()));
  int exclusive = -1;
  EXPECT_EQ(::ioctl(watcher_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);

  holder.Release();
  EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
}

TEST_F(TerminalSharingTest, TheExclusiveFlagOfAKilledHolderStillRefuses) {
  ChildProcess holder(peer_.SlavePath(), true);
  ASSERT_TRUE(holder.Started());
  holder.Kill();
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();
  int exclusive = 0;
  EXPECT_EQ(::ioctl(watcher_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
}

TEST_F(TerminalSharingTest, OnlyOtherProcessesInTheProcessTableCount) {
  const auto proc = system_.UsePrivateProcRoot();
  auto holds = [&](const std::string& process) {
    const auto fd = proc / process / "fd";
    std::filesystem::create_directories(fd);
    std::filesystem::create_symlink("socket:[1234]", fd / "3");
    std::filesystem::create_symlink(peer_.SlavePath(), fd / "7");
  };
  holds("4242");
  holds(std::to_string(::getpid()));
  holds("self");
  holds("net");
  std::ofstream(proc / "99") << "not a process folder";
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();

  // Ourselves, names that are no process and files that are no folder do not count.
  std::filesystem::remove_all(proc / "4242");
  EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
}

// The far side of a pty holds its master; its descriptors of the same pty's slave do
// not make it a competing user. Anything else it holds still counts.
TEST_F(TerminalSharingTest, AProcessHoldingThePtysMasterIsItsFarSideNotAUser) {
  const auto proc = system_.UsePrivateProcRoot();
  const std::string index = peer_.SlavePath().substr(peer_.SlavePath().rfind('/') + 1);
  auto process = [&](const std::string& pid, const std::string& masterIndex) {
    std::filesystem::create_directories(proc / pid / "fd");
    std::filesystem::create_directories(proc / pid / "fdinfo");
    std::filesystem::create_symlink("/dev/ptmx", proc / pid / "fd" / "5");
    std::ofstream(proc / pid / "fdinfo" / "5")
        << "pos:\t0\nflags:\t02\ntty-index:\t" << masterIndex << "\n";
    std::filesystem::create_symlink(peer_.SlavePath(), proc / pid / "fd" / "6");
  };
  // The master of another pty does not excuse holding this one's slave.
  process("4343", std::to_string(std::stoi(index) + 1));
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ExpectUntouched();

  std::filesystem::remove_all(proc / "4343");
  process("4242", index);
  EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
}

// A probe of many ports looks at the process table once, at its first open; any other
// open looks afresh.
TEST_F(TerminalSharingTest, APortProbeLooksAtTheProcessTableOnce) {
  const auto proc = system_.UsePrivateProcRoot();
  PtyPeer other;
  {
    const PortProbe probe;
    EXPECT_NE(OpenSharedOrFail(other.SlavePath()), nullptr);
    std::filesystem::create_directories(proc / "4242" / "fd");
    std::filesystem::create_symlink(peer_.SlavePath(), proc / "4242" / "fd" / "7");
    EXPECT_NE(OpenSharedOrFail(peer_.SlavePath()), nullptr);
  }
  EXPECT_EQ(SharedOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(TerminalSocatTest, BothEndsOfASocatPairOpenAtOnce) {
  PrivateTerminalSystem system;
  SocatPair pair;
  ASSERT_TRUE(pair.Ready());
  auto a = OpenSharedOrFail(pair.A());
  auto b = OpenSharedOrFail(pair.B());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // Each end reaches the other through socat.
  DWORD error = 0;
  ASSERT_EQ(a->Write("ping", 4, error), 4);
  char received[8] = {};
  long got = 0;
  EXPECT_TRUE(WaitFor([&] {
    const long now = b->Read(received + got, sizeof received - 1 - got, error);
    if (now > 0) got += now;
    return got >= 4;
  }));
  EXPECT_STREQ(received, "ping");
}

TEST(TerminalSocatTest, ABridgeLeavesItsPtyFreeAndHoldsTheDeviceBehindIt) {
  PrivateTerminalSystem system;
  PtyPeer device;
  SocatPair bridge("FILE:" + device.SlavePath() + ",raw,echo=0");
  ASSERT_TRUE(bridge.Ready());
  // socat holds the device's terminal on its slave side only: a user like any other.
  EXPECT_TRUE(WaitFor([&] {
    DWORD error = 0;
    return TerminalDevice::Open(device.SlavePath(), error) == nullptr &&
           error == static_cast<DWORD>(ERROR_ACCESS_DENIED);
  }));
  EXPECT_NE(OpenSharedOrFail(bridge.A()), nullptr);
}

TEST_F(TerminalSharingTest, SettingsAreHandedBackAsFoundOnClose) {
  {
    auto device = OpenSharedOrFail(peer_.SlavePath());
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Configure(RawDcb(115200)), static_cast<DWORD>(ERROR_SUCCESS));
    const termios2 ours = peer_.Settings();
    EXPECT_FALSE(ours.c_lflag & ICANON);
    EXPECT_TRUE(ours.c_cflag & CLOCAL);
    EXPECT_EQ(ours.c_ospeed, 115200u);
  }
  ExpectSameSettings(peer_.Settings(), found_);
}

TEST_F(TerminalSharingTest, CreateFileReportsAPortInUse) {
  ChildProcess holder(peer_.SlavePath());
  ASSERT_TRUE(holder.Started());
  const HANDLE port =
      CreateFileA(("\\\\.\\" + peer_.SlavePath()).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  ExpectUntouched();
}

}  // namespace
}  // namespace winapi
