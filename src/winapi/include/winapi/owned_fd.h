// A POSIX file descriptor closed when its owner goes, and writing all of a text to one.
// For the Linux files of every layer (the driver model, the emulated device, the port
// watcher); nothing on Windows includes it.
#pragma once

#include <string_view>
#include <utility>

#include <unistd.h>

namespace winapi {

class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }

  // Negative when nothing is owned.
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Hands the descriptor to the caller, who closes it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// Writes all of `content`, retrying interrupted and partial writes. False when a write
// fails, with errno telling why.
bool WriteAll(int fd, std::string_view content);

}  // namespace winapi
