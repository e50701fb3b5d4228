#include "ports/linux/terminal_lock_file.h"
#include "terminal_test_pty.h"
#include "terminal_test_system.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

namespace winapi {
namespace {

using testing::ChildProcess;
using testing::PrivateTerminalSystem;
using testing::PtyPeer;
using testing::ReadText;

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

std::string AsciiPid(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

std::string BinaryPid(pid_t pid) {
  const std::int32_t value = pid;
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

void MakeOld(const std::filesystem::path& file) {
  std::filesystem::last_write_time(file,
                                   std::filesystem::last_write_time(file) - std::chrono::hours(1));
}

TEST(LockFileFormatTest, NamesFollowTheDeviceBelowDev) {
  EXPECT_EQ(LockFileName("/dev/ttyS0"), "LCK..ttyS0");
  PtyPeer peer;
  const std::string pts = peer.SlavePath().substr(std::strlen("/dev/"));
  EXPECT_EQ(LockFileName(peer.SlavePath()), "LCK..pts_" + pts.substr(std::strlen("pts/")));

  // A link to the device gives the device's own name.
  PrivateTerminalSystem system;
  const auto link = system.Root() / "my-adapter";
  std::filesystem::create_symlink(peer.SlavePath(), link);
  EXPECT_EQ(LockFileName(link.string()), LockFileName(peer.SlavePath()));
}

TEST(LockFileFormatTest, OwnerIsReadInBothFormats) {
  const struct {
    std::string content;
    std::optional<pid_t> owner;
  } cases[] = {
      {"      4711\n", 4711},
      {"4711\n", 4711},
      {"4711", 4711},
      {"  123 \r\n", 123},
      {BinaryPid(4711), 4711},
      {BinaryPid(1 << 20), 1 << 20},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"         0\n", std::nullopt},
      {"abc\n", std::nullopt},
      {"12ab\n", std::nullopt},
      {"-5\n", std::nullopt},
      {"12 34\n", std::nullopt},
      {"12345678901\n", std::nullopt},
      {BinaryPid(0), std::nullopt},
      {BinaryPid(-7), std::nullopt},
      {"   5000000\n", std::nullopt},  // beyond any process id
      {BinaryPid(5000000), std::nullopt},
      {"abc\n", std::nullopt},  // four bytes, yet no binary id
  };
  for (const auto& [content, owner] : cases) {
    EXPECT_EQ(LockFileOwner(content), owner) << '"' << content << '"';
  }
}

class LockFileClaimTest : public ::testing::Test {
 protected:
  bool Claim(std::unique_ptr<TerminalLockFile>& lock) {
    return TerminalLockFile::Claim(peer_.SlavePath(), {system_.LockFolder()}, lock);
  }
  std::filesystem::path LockPath() const {
    return system_.LockFolder() / LockFileName(peer_.SlavePath());
  }

  PtyPeer peer_;
  PrivateTerminalSystem system_;
};

TEST_F(LockFileClaimTest, WritesOurIdAndRemovesItWhenReleased) {
  std::unique_ptr<TerminalLockFile> lock;
  ASSERT_TRUE(Claim(lock));
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(std::filesystem::equivalent(lock->Path(), LockPath()));
  EXPECT_EQ(ReadText(LockPath()), AsciiPid(::getpid()));
  EXPECT_EQ(std::filesystem::status(LockPath()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0644));
  lock.reset();
  EXPECT_FALSE(std::filesystem::exists(LockPath()));
}

TEST_F(LockFileClaimTest, ALiveOwnerKeepsThePortInEitherFormat) {
  ChildProcess owner;
  ASSERT_TRUE(owner.Started());
  for (const std::string& content : {AsciiPid(owner.Pid()), BinaryPid(owner.Pid())}) {
    WriteText(LockPath(), content);
    std::unique_ptr<TerminalLockFile> lock;
    EXPECT_FALSE(Claim(lock));
    EXPECT_EQ(lock, nullptr);
    EXPECT_EQ(ReadText(LockPath()), content);
  }
}

TEST_F(LockFileClaimTest, TheLockOfAnEndedProcessIsTakenOver) {
  ChildProcess owner;
  ASSERT_TRUE(owner.Started());
  const pid_t ended = owner.Pid();
  owner.Release();
  for (const std::string& content : {AsciiPid(ended), BinaryPid(ended), AsciiPid(::getpid())}) {
    WriteText(LockPath(), content);
    std::unique_ptr<TerminalLockFile> lock;
    ASSERT_TRUE(Claim(lock));
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(ReadText(LockPath()), AsciiPid(::getpid()));
  }
}

TEST_F(LockFileClaimTest, AnUnreadableIdCountsAsHeldUntilItIsOld) {
  for (const std::string& content : {std::string(), std::string("garbage\n")}) {
    WriteText(LockPath(), content);
    std::unique_ptr<TerminalLockFile> lock;
    // Its owner may not have written it yet.
    EXPECT_FALSE(Claim(lock)) << content;
    MakeOld(LockPath());
    EXPECT_TRUE(Claim(lock)) << content;
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(ReadText(LockPath()), AsciiPid(::getpid()));
  }
}

TEST_F(LockFileClaimTest, ALockThatIsNoLongerOursStaysOnRelease) {
  ChildProcess other;
  ASSERT_TRUE(other.Started());
  std::unique_ptr<TerminalLockFile> lock;
  ASSERT_TRUE(Claim(lock));
  ASSERT_NE(lock, nullptr);

  // Someone removed ours and wrote theirs in its place.
  std::filesystem::remove(LockPath());
  WriteText(LockPath(), AsciiPid(other.Pid()));
  lock.reset();
  EXPECT_EQ(ReadText(LockPath()), AsciiPid(other.Pid()));

  // The same file, rewritten by its new owner, is no longer ours either.
  std::filesystem::remove(LockPath());
  ASSERT_TRUE(Claim(lock));
  WriteText(LockPath(), AsciiPid(other.Pid()));
  lock.reset();
  EXPECT_EQ(ReadText(LockPath()), AsciiPid(other.Pid()));
}

TEST_F(LockFileClaimTest, WithoutAWritableFolderThePortIsStillFree) {
  const auto missing = system_.Root() / "missing";
  const auto notAFolder = system_.Root() / "file";
  WriteText(notAFolder, "x");
  std::unique_ptr<TerminalLockFile> lock;
  EXPECT_TRUE(TerminalLockFile::Claim(peer_.SlavePath(), {missing, notAFolder}, lock));
  EXPECT_EQ(lock, nullptr);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(LockFileClaimTest, EveryFolderIsConsultedAndOursGoesIntoTheFirstWritable) {
  const auto second = system_.Root() / "second";
  std::filesystem::create_directories(second);
  const auto secondLock = second / LockFileName(peer_.SlavePath());
  ChildProcess owner;
  ASSERT_TRUE(owner.Started());
  WriteText(secondLock, AsciiPid(owner.Pid()));
  const std::vector<std::filesystem::path> folders{system_.Root() / "missing", system_.LockFolder(),
                                                   second};
  std::unique_ptr<TerminalLockFile> lock;
  EXPECT_FALSE(TerminalLockFile::Claim(peer_.SlavePath(), folders, lock));
  EXPECT_FALSE(std::filesystem::exists(LockPath()));

  owner.Release();
  ASSERT_TRUE(TerminalLockFile::Claim(peer_.SlavePath(), folders, lock));
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(std::filesystem::equivalent(lock->Path(), LockPath()));
  EXPECT_FALSE(std::filesystem::exists(secondLock));

  // A link to a folder already listed is the same folder.
  lock.reset();
  const auto alias = system_.Root() / "alias";
  std::filesystem::create_directory_symlink(system_.LockFolder(), alias);
  ASSERT_TRUE(TerminalLockFile::Claim(peer_.SlavePath(), {alias, system_.LockFolder()}, lock));
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(ReadText(LockPath()), AsciiPid(::getpid()));
}

}  // namespace
}  // namespace winapi
