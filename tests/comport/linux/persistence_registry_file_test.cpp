// Saving settings when the emulated registry's own file cannot be read.
#include "comport/port.h"
#include "comport/settings_files.h"
#include "winapi/winapi.h"

#include "../../winapi/linux/file_replacement_counter.h"
#include "../../winapi/linux/registry_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <filesystem>

namespace comport {
namespace {

using PersistenceRegistryFile = winapi::testing::PrivateRegistry;

TEST_F(PersistenceRegistryFile, AnUnreadableRegistryIsAComponentError) {
  TComPort port(nullptr);
  std::filesystem::create_directory(File());  // a folder where the file should be
  try {
    SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\X");
    FAIL() << "saving into an unreadable registry succeeded";
  } catch (const EComPortExt& error) {
    EXPECT_EQ(error.ErrorCode(), 23);
    EXPECT_EQ(error.OsErrorCode(), static_cast<std::uint32_t>(ERROR_CANTREAD));
  }
  EXPECT_TRUE(std::filesystem::is_directory(File()));
}

// All the values of one save reach the file in a single replacement.
TEST_F(PersistenceRegistryFile, ASaveWritesTheFileOnce) {
  winapi::testing::ReplacementCounter renames(Folder());
  TComPort port(nullptr);
  port.SetStoredGroups(
      TSettingGroups{sgConnection, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOther});
  port.SetPort("COM4");
  SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Once");
  EXPECT_EQ(renames.Take("registry.dat"), 1);
  port.SetPort("COM5");
  SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Once");
  EXPECT_EQ(renames.Take("registry.dat"), 1);

  TComPort loaded(nullptr);
  loaded.SetStoredGroups(port.StoredGroups());
  LoadSettingsFromRegistry(loaded, HKEY_CURRENT_USER, "Software\\Once");
  EXPECT_EQ(loaded.Port(), "COM5");
  EXPECT_EQ(renames.Take("registry.dat"), 0);
}

// The values are written when the save ends, and a failure then is still reported.
TEST_F(PersistenceRegistryFile, AFailedWriteAtTheEndOfASaveIsAComponentError) {
  TComPort port(nullptr);
  SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Locked");
  std::filesystem::permissions(File(), std::filesystem::perms::owner_read);
  port.SetPort("COM8");
  try {
    SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Locked");
    FAIL() << "saving into a read-only registry file succeeded";
  } catch (const EComPortExt& error) {
    EXPECT_EQ(error.ErrorCode(), 23);
    EXPECT_EQ(error.OsErrorCode(), static_cast<std::uint32_t>(ERROR_CANTWRITE));
  }
  TComPort loaded(nullptr);
  LoadSettingsFromRegistry(loaded, HKEY_CURRENT_USER, "Software\\Locked");
  EXPECT_EQ(loaded.Port(), "COM1");
}

// A cut line is damage, not an absent value: loading names the file and the line, and
// the next save repairs the file and keeps the damaged one.
TEST_F(PersistenceRegistryFile, ADamagedFileFailsTheLoadWithItsLine) {
  TComPort port(nullptr);
  port.SetBaudRate(br19200);
  SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Cut");
  std::string text = FileText();
  const std::size_t rate = text.find("\"BaudRate\"=sz:\"19200\"");
  ASSERT_NE(rate, std::string::npos);
  text.replace(rate, 22, "\"BaudRate\"=sz:\"192");
  WriteFileText(text);
  const auto line =
      std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(rate), '\n') + 1;

  TComPort loaded(nullptr);
  try {
    LoadSettingsFromRegistry(loaded, HKEY_CURRENT_USER, "Software\\Cut");
    FAIL() << "a damaged registry file loaded";
  } catch (const EComPortExt& error) {
    EXPECT_EQ(error.ErrorCode(), 23);
    EXPECT_EQ(error.OsErrorCode(), static_cast<std::uint32_t>(ERROR_BADDB));
    EXPECT_EQ(error.Message(),
              "COM Port Error: Registry error on COM1: the registry file '" + File().string() +
                  "' is damaged at line " + std::to_string(line) +
                  ": bad value data; saving settings again rewrites it and keeps the damaged "
                  "file beside it as registry.dat.damaged-N");
  }
  EXPECT_EQ(loaded.BaudRate(), br9600);

  SaveSettingsToRegistry(port, HKEY_CURRENT_USER, "Software\\Cut");
  EXPECT_TRUE(std::filesystem::exists(Folder() / "registry.dat.damaged-1"));
  LoadSettingsFromRegistry(loaded, HKEY_CURRENT_USER, "Software\\Cut");
  EXPECT_EQ(loaded.BaudRate(), br19200);
}

}  // namespace
}  // namespace comport
