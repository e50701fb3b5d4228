// Two pseudo-terminals joined back to back by socat, the usual virtual null-modem on
// Linux: socat holds both masters and, as openpty() leaves them, both slaves.
#pragma once

#include "terminal_test_pty.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace winapi::testing {

class SocatPair {
 public:
  // `farEnd` replaces the second pty, e.g. "FILE:/dev/pts/7,raw" for a bridge to a device.
  explicit SocatPair(const std::string& farEnd = {}) {
    char pattern[] = "/tmp/pz-socat-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    folder_ = pattern;
    std::vector<std::string> args = {"socat", "pty,raw,echo=0,link=" + A(),
                                     farEnd.empty() ? "pty,raw,echo=0,link=" + B() : farEnd};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "socat", nullptr, nullptr, argv.data(), environ) != 0) {
      ADD_FAILURE() << "socat cannot be started (scripts/install-deps.sh installs it)";
      pid_ = -1;
      return;
    }
    ready_ = WaitFor([&] {
      return std::filesystem::exists(A()) && (!farEnd.empty() || std::filesystem::exists(B()));
    });
    EXPECT_TRUE(ready_) << "socat made no ptys";
  }
  ~SocatPair() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;

  bool Ready() const { return ready_; }
  pid_t Pid() const { return pid_; }
  // The links to the two slaves.
  std::string A() const { return (folder_ / "a").string(); }
  std::string B() const { return (folder_ / "b").string(); }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace winapi::testing
