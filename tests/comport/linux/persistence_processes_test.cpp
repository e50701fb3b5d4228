// Saves of one INI file from several processes: what one saves is not lost to another,
// and leftovers of a process that died are cleared.
#include "comport/ini_store.h"
#include "comport/port.h"
#include "comport/settings_files.h"

#include "../persistence_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdlib>
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

// Exit codes of a child; each names what went wrong in it.
constexpr int kChildOk = 0;
constexpr int kChildThrew = 2;
constexpr int kChildSawAMix = 3;
constexpr int kChildWrongFile = 4;

// Waits for every child, killing those still running after a generous limit; their
// exit codes, or -1 for one that was killed or crashed.
std::vector<int> WaitForChildren(const std::vector<pid_t>& children) {
  std::vector<int> codes(children.size(), -1);
  std::vector<bool> done(children.size(), false);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  for (std::size_t left = children.size(); left > 0;) {
    for (std::size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      if (done[i] || ::waitpid(children[i], &status, WNOHANG) != children[i]) continue;
      done[i] = true;
      --left;
      if (WIFEXITED(status)) codes[i] = WEXITSTATUS(status);
    }
    if (left == 0) break;
    if (std::chrono::steady_clock::now() > limit) {
      for (std::size_t i = 0; i < children.size(); ++i) {
        if (!done[i]) ::kill(children[i], SIGKILL);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return codes;
}

// Runs each job in a process of its own; all start together once every one exists.
std::vector<int> RunInProcesses(const std::vector<std::function<int()>>& jobs) {
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
      int code = kChildThrew;
      try {
        code = job();
      } catch (...) {
      }
      ::_exit(code);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);  // the children's read returns: go
  EXPECT_EQ(children.size(), jobs.size());
  return WaitForChildren(children);
}

struct Settings {
  const char* port;
  TBaudRate baudRate;
  TStopBits stopBits;
  TDataBits dataBits;
  TParityBits parity;
};

void Apply(TComPort& port, const Settings& settings) {
  port.SetPort(settings.port);
  port.SetBaudRate(settings.baudRate);
  port.SetStopBits(settings.stopBits);
  port.SetDataBits(settings.dataBits);
  port.Parity().SetBits(settings.parity);
}

bool Holds(TComPort& port, const Settings& settings) {
  return port.Port() == settings.port && port.BaudRate() == settings.baudRate &&
         port.StopBits() == settings.stopBits && port.DataBits() == settings.dataBits &&
         port.Parity().Bits() == settings.parity;
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
      return kChildOk;
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

TEST(PersistenceProcesses, OneSectionSavedAtTheSameTimeIsOneSaveWhole) {
  const Settings first{"COM3", br19200, sbTwoStopBits, dbSeven, prEven};
  const Settings second{"COM4", br115200, sbOneStopBit, dbEight, prOdd};
  ScratchFolder folder;
  const auto file = folder / "same.ini";
  auto saver = [&file, &first, &second](const Settings& mine) {
    return [&file, &first, &second, mine] {
      TComPort port(nullptr);
      Apply(port, mine);
      for (int round = 0; round < kRounds; ++round) {
        SaveSettingsToIniFile(port, file, "Port1");
        TComPort loaded(nullptr);
        LoadSettingsFromIniFile(loaded, file, "Port1");
        if (!Holds(loaded, first) && !Holds(loaded, second)) return kChildSawAMix;
      }
      return kChildOk;
    };
  };
  EXPECT_EQ(RunInProcesses({saver(first), saver(second)}), (std::vector<int>{kChildOk, kChildOk}));
  TComPort loaded(nullptr);
  LoadSettingsFromIniFile(loaded, file, "Port1");
  EXPECT_TRUE(Holds(loaded, first) || Holds(loaded, second)) << ReadFile(file);
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
    std::_Exit(loaded.Port() == "COM7" ? kChildOk : kChildWrongFile);
  }
  ScratchFolder folder;
  const auto file = folder / "left.ini";

  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter =
      std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv(kChildFlag, file.c_str(), 1);
    ::execl("/proc/self/exe", "persistence-child", filter.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  EXPECT_EQ(WaitForChildren({child}), std::vector<int>{kChildOk});
  EXPECT_EQ(folder.EntryCount(), 11u);  // the file and the ten leftovers

  TComPort port(nullptr);
  port.SetPort("COM8");
  SaveSettingsToIniFile(port, file);
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_EQ(TIniStore(file).GetText("", "Port", ""), "COM8");
}

}  // namespace
}  // namespace comport
