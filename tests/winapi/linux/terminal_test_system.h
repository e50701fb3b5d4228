// Private stand-ins for the system folders the terminal back end consults (lock files,
// the kernel's tty tree, the process table) and child processes that hold a terminal.
#pragma once

#include "ports/linux/terminal_system_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace winapi::testing {

// The whole content of a file (empty when it cannot be read).
inline std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Fresh, empty lock and sys folders for one test; the system's process table stays.
class PrivateTerminalSystem {
 public:
  PrivateTerminalSystem() {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("pz-terminal-system-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(LockFolder());
    std::filesystem::create_directories(SysRoot());
    TerminalSystemPaths paths;
    paths.lockDirectories = {LockFolder()};
    paths.sysRoot = SysRoot();
    SetTerminalSystemPaths(paths);
  }
  ~PrivateTerminalSystem() {
    SetTerminalSystemPaths(TerminalSystemPaths{});
    std::filesystem::remove_all(root_);
  }
  PrivateTerminalSystem(const PrivateTerminalSystem&) = delete;
  PrivateTerminalSystem& operator=(const PrivateTerminalSystem&) = delete;

  std::filesystem::path Root() const { return root_; }
  std::filesystem::path LockFolder() const { return root_ / "lock"; }
  std::filesystem::path SysRoot() const { return root_ / "sys"; }

  // Replaces the process table with a folder of our making.
  std::filesystem::path UsePrivateProcRoot() {
    const auto proc = root_ / "proc";
    std::filesystem::create_directories(proc);
    auto paths = CurrentTerminalSystemPaths();
    paths.procRoot = proc;
    SetTerminalSystemPaths(paths);
    return proc;
  }

  // A device of the tty class as the kernel lists it: its number and, for "tty0" and
  // "console", the names it currently stands for.
  void AddTty(const std::string& name, const std::string& number,
              const std::string& active = {}) const {
    const auto folder = SysRoot() / "class" / "tty" / name;
    std::filesystem::create_directories(folder);
    if (!number.empty()) std::ofstream(folder / "dev") << number << "\n";
    if (!active.empty()) std::ofstream(folder / "active") << active << "\n";
  }

 private:
  std::filesystem::path root_;
};

// A child process that (optionally) opens a terminal, optionally sets its exclusive
// flag, and then waits until released or killed. Only async-signal-safe calls run in
// the child.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& holdPath = {}, bool exclusive = false) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "no pipes";
      return;
    }
    const char* path = holdPath.empty() ? nullptr : holdPath.c_str();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only what the child is asked to hold: no copies of the test's own descriptors.
      const unsigned low = std::min(ready[1], release[0]);
      const unsigned high = std::max(ready[1], release[0]);
      ::close_range(3, low - 1, 0);
      ::close_range(low + 1, high - 1, 0);
      ::close_range(high + 1, ~0U, 0);
      char status = 'y';
      if (path != nullptr) {
        const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || (exclusive && ::ioctl(fd, TIOCEXCL) != 0)) status = 'n';
      }
      if (::write(ready[1], &status, 1) != 1) ::_exit(1);
      char byte;
      while (::read(release[0], &byte, 1) < 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    releaseFd_ = release[1];
    char status = 'n';
    started_ = pid_ > 0 && ::read(ready[0], &status, 1) == 1 && status == 'y';
    ::close(ready[0]);
  }
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Whether the child runs and holds what it was asked to.
  bool Started() const { return started_; }
  pid_t Pid() const { return pid_; }

  // Lets the child end normally and waits for it.
  void Release() {
    if (releaseFd_ >= 0) ::close(releaseFd_);
    releaseFd_ = -1;
    Reap();
  }
  // Ends the child without giving it a chance to clean up.
  void Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Release();
  }

 private:
  void Reap() {
    if (pid_ <= 0) return;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int releaseFd_ = -1;
  bool started_ = false;
};

}  // namespace winapi::testing
