// Changes to the emulated registry are saved together: when a key is closed or flushed,
// in one replacement of the file, on top of what other writers saved meanwhile.
#include "winapi/winapi.h"

#include "file_replacement_counter.h"
#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>

namespace winapi {
namespace {

class RegistryWriteBehind : public testing::PrivateRegistry {
 protected:
  HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static LONG SetDword(HKEY key, const std::string& name, DWORD value) {
    return RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
  }
  static LONG QueryDword(HKEY key, const char* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  }
};

TEST_F(RegistryWriteBehind, ManyValuesOfANewKeyReplaceTheFileOnce) {
  testing::ReplacementCounter renames(Folder());
  HKEY key = Create("Software\\Many");
  for (int i = 0; i < 29; ++i) ASSERT_EQ(SetDword(key, "V" + std::to_string(i), i), ERROR_SUCCESS);
  DWORD value = 0;
  ASSERT_EQ(QueryDword(key, "V28", value), ERROR_SUCCESS);  // this process sees them at once
  EXPECT_EQ(value, 28u);
  EXPECT_EQ(renames.Take("registry.dat"), 0);
  EXPECT_FALSE(std::filesystem::exists(File()));

  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(renames.Take("registry.dat"), 1);
  EXPECT_NE(FileText().find("\"V0\"=dword:00000000\n"), std::string::npos);
  EXPECT_NE(FileText().find("\"V28\"=dword:0000001c\n"), std::string::npos);
}

TEST_F(RegistryWriteBehind, FlushSavesAndAnUnchangedKeySavesNothing) {
  testing::ReplacementCounter renames(Folder());
  HKEY key = Create("Software\\Flushed");
  ASSERT_EQ(SetDword(key, "A", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  EXPECT_EQ(renames.Take("registry.dat"), 1);
  EXPECT_NE(FileText().find("\"A\"=dword:00000001\n"), std::string::npos);
  ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(renames.Take("registry.dat"), 0);
  EXPECT_EQ(RegFlushKey(key), ERROR_INVALID_HANDLE);
}

// Another process saves while this one holds unsaved changes: both survive, and this
// process sees the other's values before its own are saved.
TEST_F(RegistryWriteBehind, UnsavedChangesAreReplayedOnAnotherWritersFile) {
  HKEY key = Create("Software\\Mine");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Mine", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "Own", 7), ERROR_SUCCESS);
  WriteFileText(FileText() + "\n[HKEY_CURRENT_USER\\Software\\Theirs]\n\"Other\"=dword:00000009\n" +
                "[HKEY_CURRENT_USER\\Software\\Mine]\n\"Old\"=dword:00000003\n");

  HKEY theirs = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Theirs", 0, KEY_READ, &theirs),
            ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(QueryDword(theirs, "Other", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 9u);
  EXPECT_EQ(QueryDword(key, "Own", value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  ASSERT_EQ(RegCloseKey(theirs), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_NE(FileText().find("\"Other\"=dword:00000009\n"), std::string::npos) << FileText();
  EXPECT_NE(FileText().find("\"Old\"=dword:00000003\n\"Own\"=dword:00000007\n"), std::string::npos)
      << FileText();
}

// A save that fails is reported by the flush; the changes are dropped, so this process
// sees what the file holds rather than values that are nowhere on disk.
TEST_F(RegistryWriteBehind, AFailedSaveIsReportedAndTheFileIsKept) {
  HKEY key = Create("Software\\Kept");
  ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  const std::string saved = FileText();
  ASSERT_EQ(::chmod(File().c_str(), 0400), 0);
  ASSERT_EQ(SetDword(key, "Lost", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(key), ERROR_CANTWRITE);
  DWORD value = 0;
  EXPECT_EQ(QueryDword(key, "Lost", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FileText(), saved);
  ASSERT_EQ(SetDword(key, "AlsoLost", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_CANTWRITE);  // the handle is closed all the same
  EXPECT_EQ(RegFlushKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(FileText(), saved);
}

// Deleting a key saves at once, together with the changes made before it.
TEST_F(RegistryWriteBehind, DeletionSavesAtOnce) {
  HKEY key = Create("Software\\Gone");
  ASSERT_EQ(SetDword(key, "V", 1), ERROR_SUCCESS);
  HKEY stays = Create("Software\\Stays");
  ASSERT_EQ(SetDword(stays, "W", 2), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Gone"), ERROR_SUCCESS);
  EXPECT_EQ(FileText().find("Gone"), std::string::npos) << FileText();
  EXPECT_NE(FileText().find("\"W\"=dword:00000002\n"), std::string::npos) << FileText();
  EXPECT_EQ(SetDword(key, "V", 3), ERROR_KEY_DELETED);
  RegCloseKey(key);
  RegCloseKey(stays);
}

}  // namespace
}  // namespace winapi
