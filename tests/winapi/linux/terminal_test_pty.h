// The far side of a pseudo-terminal for tests: holds the master, sends and collects bytes.
#pragma once

#include <asm/termbits.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace winapi::testing {

class PtyPeer {
 public:
  PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;
  }
  ~PtyPeer() { CloseMaster(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::vector<std::uint8_t>& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Collects what the port sent until `count` bytes are there or the limit passes.
  std::vector<std::uint8_t> Receive(std::size_t count,
                                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      std::uint8_t buffer[4096];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

  // Discards whatever the port has sent.
  void Drain() const {
    std::uint8_t buffer[4096];
    while (::read(master_, buffer, sizeof buffer) > 0) {
    }
  }

  // A pty and its master share one set of terminal settings.
  termios2 Settings() const {
    termios2 settings{};
    EXPECT_EQ(::ioctl(master_, TCGETS2, &settings), 0);
    return settings;
  }
  void SetSettings(const termios2& settings) const {
    EXPECT_EQ(::ioctl(master_, TCSETS2, &settings), 0);
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

// Polls `condition` until it holds or `limit` passes; for waits on another thread.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(1000);
  }
  return true;
}

}  // namespace winapi::testing
