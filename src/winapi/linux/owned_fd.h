// A file descriptor closed when its owner goes, and writing all of a text to one.
#pragma once

#include <string_view>
#include <utility>

#include <unistd.h>

namespace winapi {

class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  // Negative when nothing is owned.
  int Get() const { return fd_; }
  // Hands the descriptor to the caller, who closes it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Writes all of `content`, retrying interrupted and partial writes. False when a write
// fails, with errno telling why.
bool WriteAll(int fd, std::string_view content);

}  // namespace winapi
