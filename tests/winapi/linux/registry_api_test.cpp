#include "winapi/winapi.h"

#include "registry_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace winapi {
namespace {

using RegistryApi = testing::PrivateRegistry;

// An open key closed at the end of the scope.
struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) RegCloseKey(handle);
  }
};

LONG Create(HKEY base, const char* path, Key& key, DWORD* disposition = nullptr,
            REGSAM access = KEY_ALL_ACCESS) {
  return RegCreateKeyExA(base, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         &key.handle, disposition);
}

LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::vector<BYTE> Query(HKEY key, const char* name, DWORD* type = nullptr) {
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS) << name;
  std::vector<BYTE> data(size);
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
  return data;
}

TEST_F(RegistryApi, TypedValuesArePersistedInTheUsersFile) {
  {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Test\\Port", key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(SetText(key.handle, "Port", "COM3"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key.handle, "Path", "%HOME%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key.handle, "Size", 0x12345678), ERROR_SUCCESS);
    const BYTE blob[] = {0, 1, 0xFF, '"', '\\', '\n'};
    EXPECT_EQ(RegSetValueExA(key.handle, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key.handle, "Multi", 0, 7, blob, 2), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key.handle, nullptr, 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  }
  EXPECT_NE(FileText().find("[HKEY_CURRENT_USER\\Software\\Test\\Port]\n"), std::string::npos);
  EXPECT_NE(FileText().find("\"Port\"=sz:\"COM3\"\n"), std::string::npos);
  EXPECT_NE(FileText().find("\"Size\"=dword:12345678\n"), std::string::npos);

  Key key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\TEST\\port", 0, KEY_READ, &key.handle),
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query(key.handle, "port", &type), (std::vector<BYTE>{'C', 'O', 'M', '3', 0}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  Query(key.handle, "Path", &type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(Query(key.handle, "Size", &type), (std::vector<BYTE>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(key.handle, "Blob", &type), (std::vector<BYTE>{0, 1, 0xFF, '"', '\\', '\n'}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(Query(key.handle, "Multi", &type), (std::vector<BYTE>{0, 1}));
  EXPECT_EQ(type, 7u);
  EXPECT_TRUE(Query(key.handle, "", &type).empty());
}

TEST_F(RegistryApi, ExistingKeysAreOpenedNotRecreated) {
  Key first, second;
  DWORD disposition = 0;
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "A\\B", first, &disposition), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(first.handle, "V", 1), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "a\\b\\", second, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(Query(second.handle, "v").size(), 4u);
  Key other;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\B", 0, KEY_READ, &other.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other.handle, nullptr);
}

TEST_F(RegistryApi, WindowsErrorNumbers) {
  Key key;
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "Errors", key), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key.handle, "Text", "abcdef"), ERROR_SUCCESS);

  Key absent;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "NoSuchKey", 0, KEY_READ, &absent.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key.handle, "NoSuchValue", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key.handle, "NoSuchValue"), ERROR_FILE_NOT_FOUND);

  // A buffer that is too small: ERROR_MORE_DATA, the size needed, the type.
  BYTE small[3] = {};
  DWORD size = sizeof small, type = 0;
  EXPECT_EQ(RegQueryValueExA(key.handle, "Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegQueryValueExA(key.handle, "Text", nullptr, nullptr, small, nullptr),
            ERROR_INVALID_PARAMETER);

  const HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t{0x7777});
  EXPECT_EQ(SetDword(bogus, "V", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(bogus, "V", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
  Key child;
  EXPECT_EQ(Create(bogus, "X", child), ERROR_INVALID_HANDLE);

  Key bad;
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "\\Leading", bad), 161);  // ERROR_BAD_PATHNAME
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "A\\\\B", bad), 161);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, nullptr, bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key.handle, "V", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(key.handle, "V", 1, REG_BINARY, small, 1), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Errors", 0, KEY_READ, &closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, AccessRightsOfTheHandleAreEnforced) {
  Key setup;
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "Rights", setup), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(setup.handle, "V", 5), ERROR_SUCCESS);

  Key readOnly, writeOnly, child;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_READ, &readOnly.handle),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_WRITE, &writeOnly.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(readOnly.handle, "V", 6), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(readOnly.handle, "V"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create(readOnly.handle, "Child", child), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writeOnly.handle, "V", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(writeOnly.handle, "V", 6), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(writeOnly.handle, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(setup.handle, "V", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, DamagedFileLoadsWhatCanBeReadAndIsKeptBeforeRewriting) {
  const std::string damaged =
      "PZRQ480 REGISTRY 1\n"
      "[HKEY_CURRENT_USER\\Kept]\n"
      "\"Good\"=dword:0000002a\n"
      "\"Broken\"=dword:12\n"
      "garbage \x01\x02\n"
      "[HKEY_NOWHERE\\X]\n"
      "\"Lost\"=sz:\"x\"\n"
      "[HKEY_CURRENT_USER\\Kept]\n"
      "\"Cut\"=sz:\"unterminat";
  WriteFileText(damaged);
  Key key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_ALL_ACCESS, &key.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(Query(key.handle, "Good"), (std::vector<BYTE>{42, 0, 0, 0}));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.handle, "Broken", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key.handle, "Cut", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(SetDword(key.handle, "New", 1), ERROR_SUCCESS);
  std::ifstream copy(Folder() / "registry.dat.damaged-1", std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, damaged);
  EXPECT_EQ(FileText(),
            "PZRQ480 REGISTRY 1\n\n[HKEY_CURRENT_USER\\Kept]\n\"Good\"=dword:0000002a\n"
            "\"New\"=dword:00000001\n");
}

TEST_F(RegistryApi, UnreadableFileIsAnErrorAndIsNotReplaced) {
  std::filesystem::create_directory(File());  // a folder where the file should be
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "X", 0, KEY_READ, &key.handle), ERROR_CANTREAD);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "V", 1), ERROR_CANTREAD);
  EXPECT_TRUE(std::filesystem::is_directory(File()));
}

TEST_F(RegistryApi, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 3;
  constexpr int kValues = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      Key key;
      ASSERT_EQ(Create(HKEY_CURRENT_USER, ("Threads\\T" + std::to_string(t)).c_str(), key),
                ERROR_SUCCESS);
      for (int v = 0; v < kValues; ++v) {
        ASSERT_EQ(SetDword(key.handle, ("V" + std::to_string(v)).c_str(), v), ERROR_SUCCESS);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    Key key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ("Threads\\T" + std::to_string(t)).c_str(), 0,
                            KEY_READ, &key.handle),
              ERROR_SUCCESS);
    for (int v = 0; v < kValues; ++v) {
      EXPECT_EQ(Query(key.handle, ("V" + std::to_string(v)).c_str()),
                (std::vector<BYTE>{static_cast<BYTE>(v), 0, 0, 0}));
    }
  }
}

}  // namespace
}  // namespace winapi
