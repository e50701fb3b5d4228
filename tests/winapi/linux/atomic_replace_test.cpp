#include "winapi/atomic_replace.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace winapi {
namespace {

namespace fs = std::filesystem;

// The private folder of the registry tests serves as a scratch folder here.
class AtomicReplace : public testing::PrivateRegistry {
 protected:
  std::string Read(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void Write(const fs::path& path, const std::string& text) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }
  mode_t Mode(const fs::path& path) const {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
  }
  std::size_t Entries() const {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Folder())) ++count;
    return count;
  }
};

TEST_F(AtomicReplace, KeepsTheModeOfTheFileItReplaces) {
  const auto file = Folder() / "settings.ini";
  Write(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ReplaceFileAtomically(file, "new");
  EXPECT_EQ(Read(file), "new");
  EXPECT_EQ(Mode(file), 0640u);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicReplace, NewFilesAreOwnerOnlyWhenAsked) {
  const auto shared = Folder() / "shared";
  const auto secret = Folder() / "secret";
  const mode_t mask = ::umask(022);
  ReplaceFileAtomically(shared, "a");
  ReplaceFileAtomically(secret, "b", NewFileAccess::OwnerOnly);
  ::umask(mask);
  EXPECT_EQ(Mode(shared), 0644u);
  EXPECT_EQ(Mode(secret), 0600u);
}

TEST_F(AtomicReplace, FollowsLinksToTheFileAndKeepsTheLinks) {
  fs::create_directory(Folder() / "real");
  const auto target = Folder() / "real" / "file";
  Write(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
  fs::create_symlink("real/file", Folder() / "first");
  fs::create_symlink("first", Folder() / "second");
  ReplaceFileAtomically(Folder() / "second", "new");
  EXPECT_TRUE(fs::is_symlink(Folder() / "second"));
  EXPECT_TRUE(fs::is_symlink(Folder() / "first"));
  EXPECT_EQ(Read(target), "new");
  EXPECT_EQ(Mode(target), 0604u);
  EXPECT_EQ(Entries(), 3u);  // no temporary file in either folder
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder() / "real"), fs::directory_iterator()), 1);
}

// Root may write any file, but a file without write permission stays as it is.
TEST_F(AtomicReplace, RefusesAFileWithoutWritePermission) {
  const auto file = Folder() / "locked";
  Write(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  try {
    ReplaceFileAtomically(file, "new");
    FAIL() << "a read-only file was replaced";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EACCES);
  }
  EXPECT_EQ(Read(file), "old");
  EXPECT_EQ(Mode(file), 0444u);
  EXPECT_EQ(Entries(), 1u);
}

}  // namespace
}  // namespace winapi
