// Saves of one INI file from several processes: what one saves is not lost to another,
// and leftovers of a process that died are cleared.
#include "comport/ini_store.h"
#include "comport/port.h"
#include "comport/settings_files.h"

#include "../persistence_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace comport {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

constexpr int kRounds = 200;
constexpr const char* kChildFlag = "PZ_PERSISTENCE_CHILD";

constexpr int kChildOk = 0;
constexpr int kChildFailed = 2;

// Exit codes of the children, -1 for one killed or crashed; a child still running after
// a generous limit is killed.
std::vector<int> WaitForChildren(const std::vector<pid_t>& children) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  std::vector<int> codes;
  for (const pid_t child : children) {
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > limit) ::kill(child, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return codes;
}

// Runs each job in a process of its own; all start together once every one exists.
std::vector<int> RunInProcesses(const std::vector<std::function<bool()>>& jobs) {
  int start[2];
  if (::pipe(start) != 0) return {};
  std::vector<pid_t> children;
  for (const auto& job : jobs) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      char ignored;
      while (::read(start[0], &ignored, 1) < 0) {
      }
      bool ok = false;
      try {
        ok = job();
      } catch (...) {
      }
      ::_exit(ok ? kChildOk : kChildFailed);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);  // the children's read returns: go
  return WaitForChildren(children);
}

TEST(PersistenceProcesses, SectionsSavedAtTheSameTimeAreAllKept) {
  ScratchFolder folder;
  const auto file = folder / "shared.ini";
  WriteFile(file, "; kept by every save\r\n");
  auto saver = [&file](const std::string& prefix) {
    return [&file, prefix] {
      TComPort port(nullptr);
      for (int round = 0; round < kRounds; ++round) {
        port.SetPort(prefix + std::to_string(round));
        SaveSettingsToIniFile(port, file, prefix + std::to_string(round));
      }
      return true;
    };
  };
  EXPECT_EQ(RunInProcesses({saver("A"), saver("B")}), (std::vector<int>{kChildOk, kChildOk}));

  TIniStore store(file);
  int missing = 0;
  for (const char* prefix : {"A", "B"}) {
    for (int round = 0; round < kRounds; ++round) {
      const std::string name = prefix + std::to_string(round);
      missing += store.GetText(name, "Port", "") != name;
    }
  }
  EXPECT_EQ(missing, 0) << "sections lost of " << 2 * kRounds;
  EXPECT_EQ(ReadFile(file).rfind("; kept by every save\r\n", 0), 0u);
  EXPECT_EQ(folder.EntryCount(), 1u);
}

// Each process checks after every save that the section holds one save's keys whole.
TEST(PersistenceProcesses, OneSectionSavedAtTheSameTimeIsOneSaveWhole) {
  ScratchFolder folder;
  const auto file = folder / "same.ini";
  auto isWhole = [&file] {
    TIniStore store(file);
    const std::string key = store.GetText("Port1", "Port", "") +
                            store.GetText("Port1", "BaudRate", "") +
                            store.GetText("Port1", "Parity", "");
    return key == "COM319200Even" || key == "COM4115200Odd";
  };
  auto saver = [&file, &isWhole](const char* name, TBaudRate rate, TParityBits parity) {
    return [&file, &isWhole, name, rate, parity] {
      TComPort port(nullptr);
      port.SetPort(name);
      port.SetBaudRate(rate);
      port.Parity().SetBits(parity);
      bool whole = true;
      for (int round = 0; round < kRounds && whole; ++round) {
        SaveSettingsToIniFile(port, file, "Port1");
        whole = isWhole();
      }
      return whole;
    };
  };
  EXPECT_EQ(RunInProcesses({saver("COM3", br19200, prEven), saver("COM4", br115200, prOdd)}),
            (std::vector<int>{kChildOk, kChildOk}));
  EXPECT_TRUE(isWhole()) << ReadFile(file);
}

// A process that finds the temporary names it would use taken by a dead process of the
// same id: its save succeeds and says so. The leftovers are cleared by a later save,
// once their process is gone. The child is this program started again, so that its
// temporary names are numbered from the start.
TEST(PersistenceProcesses, LeftoversOfADeadProcessNeitherFailASaveNorStay) {
  if (const char* childFile = std::getenv(kChildFlag)) {
    const std::filesystem::path shared(childFile);
    for (int n = 0; n < 10; ++n) {
      WriteFile(shared.parent_path() / ("." + shared.filename().string() + ".tmp-" +
                                        std::to_string(::getpid()) + "-" + std::to_string(n)),
                "half a save");
    }
    TComPort port(nullptr);
    port.SetPort("COM7");
    SaveSettingsToIniFile(port, childFile);
    TComPort loaded(nullptr);
    LoadSettingsFromIniFile(loaded, childFile);
    std::_Exit(loaded.Port() == "COM7" ? kChildOk : kChildFailed);
  }
  ScratchFolder folder;
  const auto file = folder / "left.ini";

  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter =
      std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  ::setenv(kChildFlag, file.c_str(), 1);
  EXPECT_EQ(RunInProcesses({[&filter] {
              ::execl("/proc/self/exe", "child", filter.c_str(), static_cast<char*>(nullptr));
              return false;
            }}),
            std::vector<int>{kChildOk});
  ::unsetenv(kChildFlag);
  EXPECT_EQ(folder.EntryCount(), 11u);  // the file and the ten leftovers

  TComPort port(nullptr);
  port.SetPort("COM8");
  SaveSettingsToIniFile(port, file);
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_EQ(TIniStore(file).GetText("", "Port", ""), "COM8");
}

}  // namespace
}  // namespace comport
