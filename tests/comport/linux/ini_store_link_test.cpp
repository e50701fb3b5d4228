// Saving through a symbolic link, which only Linux offers without special rights.
#include "comport/ini_store.h"

#include "../persistence_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace comport {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

TEST(IniStoreLink, SaveReplacesTheTargetAndKeepsTheLink) {
  ScratchFolder folder;
  const auto real = folder / "real.ini";
  const auto link = folder / "link.ini";
  WriteFile(real, "[S]\nK=old\n");
  std::filesystem::create_symlink("real.ini", link);
  {
    TIniStore store(link);
    store.PutText("S", "K", "new");
    store.UpdateFile();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[S]\nK=new\n");
  EXPECT_EQ(folder.EntryCount(), 2u);
}

}  // namespace
}  // namespace comport
