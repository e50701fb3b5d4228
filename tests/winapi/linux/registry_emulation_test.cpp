// The emulated registry's own file: what it holds, and how a damaged or unreadable one
// is handled.
#include "winapi/winapi.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace winapi {
namespace {

using RegistryEmulation = testing::PrivateRegistry;

struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) RegCloseKey(handle);
  }
};

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::vector<BYTE> Query(HKEY key, const char* name) {
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS) << name;
  std::vector<BYTE> data(size);
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
  return data;
}

TEST_F(RegistryEmulation, ValuesAndDeletionsAreKeptInTheUsersFile) {
  {
    Key key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test\\Port", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key.handle, nullptr),
              ERROR_SUCCESS);
    const std::string port = "COM3";
    EXPECT_EQ(RegSetValueExA(key.handle, "Port", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(port.c_str()), 5),
              ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key.handle, "Size", 0x12345678), ERROR_SUCCESS);
  }
  EXPECT_NE(FileText().find("[HKEY_CURRENT_USER\\Software\\Test\\Port]\n"), std::string::npos);
  EXPECT_NE(FileText().find("\"Port\"=sz:\"COM3\"\n"), std::string::npos);
  EXPECT_NE(FileText().find("\"Size\"=dword:12345678\n"), std::string::npos);

  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Test"), ERROR_SUCCESS);
  EXPECT_EQ(FileText().find("Test"), std::string::npos);
  EXPECT_NE(FileText().find("[HKEY_CURRENT_USER\\Software]\n"), std::string::npos);
}

// Wine accepts all of these, so they are checked against the emulation only.
TEST_F(RegistryEmulation, RefusesEmptyKeyNamesReservedWordsAndUnrightfulSubkeys) {
  Key key, bad;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Errors", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key.handle, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &bad.handle, nullptr),
            161);  // ERROR_BAD_PATHNAME
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &bad.handle, nullptr),
            ERROR_INVALID_PARAMETER);
  const BYTE small[1] = {};
  EXPECT_EQ(RegSetValueExA(key.handle, "V", 1, REG_BINARY, small, 1), ERROR_INVALID_PARAMETER);

  Key readOnly, child;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Errors", 0, KEY_READ, &readOnly.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExA(readOnly.handle, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &child.handle, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(child.handle, nullptr);
}

// Reads do not answer from a file with lines missing; a save repairs it and keeps the
// damaged file.
TEST_F(RegistryEmulation, DamagedFileIsReportedThenRepairedAndKept) {
  const std::string damaged =
      "PZRQ480 REGISTRY 1\n"
      "[HKEY_CURRENT_USER\\Kept]\n"
      "\"Good\"=dword:0000002a\n"
      "\"Cut\"=sz:\"192\n"
      "garbage \x01\x02\n"
      "[HKEY_NOWHERE\\X]\n"
      "\"Lost\"=sz:\"x\"\n";
  WriteFileText(damaged);
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_READ, &key.handle), ERROR_BADDB);
  EXPECT_EQ(RegistryDamage(), "the registry file '" + File().string() +
                                  "' is damaged at line 4: bad value data (and 3 more lines); "
                                  "saving settings again rewrites it and keeps the damaged file "
                                  "beside it as registry.dat.damaged-N");

  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Kept", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key.handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.handle, "New", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(key.handle), ERROR_SUCCESS);
  std::ifstream copy(Folder() / "registry.dat.damaged-1", std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, damaged);
  EXPECT_EQ(FileText(),
            "PZRQ480 REGISTRY 1\n\n[HKEY_CURRENT_USER\\Kept]\n\"Good\"=dword:0000002a\n"
            "\"New\"=dword:00000001\n");
  EXPECT_EQ(Query(key.handle, "Good"), (std::vector<BYTE>{42, 0, 0, 0}));
}

TEST_F(RegistryEmulation, UnreadableFileIsAnErrorAndIsNotReplaced) {
  std::filesystem::create_directory(File());  // a folder where the file should be
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "X", 0, KEY_READ, &key.handle), ERROR_CANTREAD);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "V", 1), ERROR_CANTREAD);
  EXPECT_TRUE(std::filesystem::is_directory(File()));
}

}  // namespace
}  // namespace winapi
