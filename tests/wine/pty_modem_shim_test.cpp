// The modem-line shim answers the modem ioctls on pty slaves only, and leaves every
// other descriptor and request to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

class PtyModemShim : public ::testing::Test {
 protected:
  void SetUp() override {
    library = dlopen(PZ_PTY_MODEM_SHIM, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    shimIoctl = reinterpret_cast<IoctlFunction>(dlsym(library, "ioctl"));
    ASSERT_NE(shimIoctl, nullptr);
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
  }
  void TearDown() override {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
    if (library) dlclose(library);
  }
  void* library = nullptr;
  IoctlFunction shimIoctl = nullptr;
  int master = -1;
  int slave = -1;
};

TEST_F(PtyModemShim, PtySlaveHasAllLinesOffAndZeroCounters) {
  // Without the shim the kernel refuses: this is what the shim is for.
  int lines = -1;
  ASSERT_EQ(ioctl(slave, TIOCMGET, &lines), -1);

  lines = -1;
  EXPECT_EQ(shimIoctl(slave, TIOCMGET, &lines), 0);
  EXPECT_EQ(lines, 0);
  serial_icounter_struct counters;
  memset(&counters, 0xAB, sizeof counters);
  EXPECT_EQ(shimIoctl(slave, TIOCGICOUNT, &counters), 0);
  EXPECT_EQ(counters.rx, 0);
  EXPECT_EQ(counters.frame, 0);
  EXPECT_EQ(counters.brk, 0);
}

TEST_F(PtyModemShim, WaitForALineChangeEndsWhenTheFarSideHangsUp) {
  int result = 0;
  int error = 0;
  std::thread waiter([&] {
    result = shimIoctl(slave, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR);
    error = errno;
  });
  close(master);
  master = -1;
  waiter.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EIO);
}

TEST_F(PtyModemShim, OtherDescriptorsAndRequestsAreLeftAlone) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  int lines = -1;
  errno = 0;
  EXPECT_EQ(shimIoctl(pipeEnds[0], TIOCMGET, &lines), -1);
  EXPECT_EQ(errno, ENOTTY);
  close(pipeEnds[0]);
  close(pipeEnds[1]);

  // A request the shim does not answer keeps the kernel's answer, success or failure.
  int queued = -1;
  EXPECT_EQ(shimIoctl(slave, FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0);
  errno = 0;
  EXPECT_EQ(shimIoctl(slave, TIOCMSET, &lines), -1);
  EXPECT_NE(errno, 0);
}

}  // namespace
