// Saving through a symbolic link, which only Linux offers without special rights.
#include "comport/ini_store.h"
#include "comport/port.h"
#include "comport/settings_files.h"

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

// A link to a file not there yet names the file to create; a loop of links is refused.
TEST(IniStoreLink, DanglingLinksAreWrittenThroughAndLoopsRefused) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder / "real");
  std::filesystem::create_symlink("real/new.ini", folder / "dangling.ini");
  std::filesystem::create_symlink("loop-b.ini", folder / "loop-a.ini");
  std::filesystem::create_symlink("loop-a.ini", folder / "loop-b.ini");
  TComPort port(nullptr);
  port.SetPort("COM6");
  SaveSettingsToIniFile(port, folder / "dangling.ini");
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling.ini"));
  EXPECT_EQ(TIniStore(folder / "real" / "new.ini").GetText("", "Port", ""), "COM6");
  try {
    SaveSettingsToIniFile(port, folder / "loop-a.ini");
    ADD_FAILURE() << "a loop of links was saved to";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.ErrorCode(), 16);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "loop-a.ini"));
  EXPECT_EQ(folder.EntryCount(), 4u);
}

}  // namespace
}  // namespace comport
