// Watches a folder for files renamed into place, the last step of a whole-file save.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

namespace winapi::testing {

// Counts the times a file was renamed into place in a folder.
class ReplacementCounter {
 public:
  explicit ReplacementCounter(const std::filesystem::path& folder)
      : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO), 0);
  }
  ~ReplacementCounter() { ::close(fd_); }
  ReplacementCounter(const ReplacementCounter&) = delete;
  ReplacementCounter& operator=(const ReplacementCounter&) = delete;

  // The renames onto `name` since the last call. The events of finished renames are
  // queued before the rename returns, so nothing is missed by reading at once.
  int Take(const std::string& name) {
    int count = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name == event->name) ++count;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return count;
  }

 private:
  int fd_;
};

}  // namespace winapi::testing
