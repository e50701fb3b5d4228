// A program run by a test: its output through pipes, its end waited for with a limit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sim_test {

class ChildProcess {
 public:
  // Runs `args` (args[0] is the program) with the test's environment plus `env` entries
  // ("NAME=value", replacing those of the same name).
  ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> environment = env;
    for (char** entry = environ; *entry; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('=') + 1);
      bool replaced = false;
      for (const std::string& mine : env) replaced = replaced || mine.rfind(name, 0) == 0;
      if (!replaced) environment.push_back(text);
    }
    const std::vector<std::string> command = UnderEmulator(args);
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int error = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (error != 0) {
      ADD_FAILURE() << "cannot run " << args[0] << ": " << error;
      pid_ = -1;
    }
  }

  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }

  // The next line of standard output (without the newline); nothing when the limit passes
  // or the output ends first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const auto newline = outText_.find('\n'); newline != std::string::npos) {
        std::string line = outText_.substr(0, newline);
        outText_.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(out_, outText_, static_cast<int>(left.count()))) {
        return std::nullopt;
      }
    }
  }

  void Signal(int signal) const { ::kill(pid_, signal); }

  // The exit status (128 + n for signal n) once the program ends; nothing at the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!status_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }

  // Everything the program wrote after the lines read so far (call after Wait).
  std::string RestOfOutput() {
    while (ReadSome(out_, outText_, 0)) {
    }
    return std::exchange(outText_, {});
  }
  std::string ErrorOutput() {
    while (ReadSome(err_, errText_, 0)) {
    }
    return errText_;
  }

 private:
  // A cross build's test runs under an emulator (PZ_TEST_EMULATOR, its words separated by
  // spaces), and so must the programs it starts: the system cannot run them itself.
  static std::vector<std::string> UnderEmulator(const std::vector<std::string>& args) {
    std::vector<std::string> command;
#ifdef PZ_TEST_EMULATOR
    std::istringstream words(PZ_TEST_EMULATOR);
    for (std::string word; words >> word;) command.push_back(word);
#endif
    command.insert(command.end(), args.begin(), args.end());
    return command;
  }

  static bool ReadSome(int fd, std::string& into, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outText_;
  std::string errText_;
  std::optional<int> status_;
};

// A fresh folder under /tmp, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/pz-sim-test-XXXXXX";
    if (::mkdtemp(pattern)) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace sim_test
