// Saving settings when the emulated registry's own file cannot be read.
#include "comport/port.h"
#include "comport/settings_files.h"
#include "winapi/winapi.h"

#include "../../winapi/linux/registry_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
}  // namespace comport
