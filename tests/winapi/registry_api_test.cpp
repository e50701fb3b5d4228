#include "winapi/winapi.h"

#include "registry_sandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace winapi {
namespace {

using RegistryApi = testing::RegistrySandbox;

// An open key closed at the end of the scope.
struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) winapi::RegCloseKey(handle);
  }
};

LONG Create(HKEY base, const char* path, Key& key, DWORD* disposition = nullptr,
            REGSAM access = KEY_ALL_ACCESS) {
  return winapi::RegCreateKeyExA(base, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                 &key.handle, disposition);
}

LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
  return winapi::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return winapi::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::vector<BYTE> Query(HKEY key, const char* name, DWORD* type = nullptr) {
  DWORD size = 0;
  EXPECT_EQ(winapi::RegQueryValueExA(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS)
      << name;
  std::vector<BYTE> data(size);
  EXPECT_EQ(winapi::RegQueryValueExA(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
  return data;
}

TEST_F(RegistryApi, TypedValuesReadBackAsWritten) {
  {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(Create(Sandbox(), "Test\\Port", key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(SetText(key.handle, "Port", "COM3"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key.handle, "Path", "%HOME%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key.handle, "Size", 0x12345678), ERROR_SUCCESS);
    const BYTE blob[] = {0, 1, 0xFF, '"', '\\', '\n'};
    EXPECT_EQ(winapi::RegSetValueExA(key.handle, "Blob", 0, REG_BINARY, blob, sizeof blob),
              ERROR_SUCCESS);
    EXPECT_EQ(winapi::RegSetValueExA(key.handle, "Multi", 0, 7, blob, 2), ERROR_SUCCESS);
    EXPECT_EQ(winapi::RegSetValueExA(key.handle, nullptr, 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  }

  Key key;
  ASSERT_EQ(winapi::RegOpenKeyExA(HKEY_CURRENT_USER, SandboxPath("test\\PORT").c_str(), 0, KEY_READ,
                                  &key.handle),
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
  ASSERT_EQ(Create(Sandbox(), "A\\B", first, &disposition), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(first.handle, "V", 1), ERROR_SUCCESS);
  ASSERT_EQ(Create(Sandbox(), "a\\b\\", second, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(Query(second.handle, "v").size(), 4u);
  Key other;
  EXPECT_EQ(winapi::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SandboxPath("A\\B").c_str(), 0, KEY_READ,
                                  &other.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other.handle, nullptr);
}

TEST_F(RegistryApi, WindowsErrorNumbers) {
  Key key;
  ASSERT_EQ(Create(Sandbox(), "Errors", key), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key.handle, "Text", "abcdef"), ERROR_SUCCESS);

  Key absent;
  EXPECT_EQ(winapi::RegOpenKeyExA(Sandbox(), "NoSuchKey", 0, KEY_READ, &absent.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(winapi::RegQueryValueExA(key.handle, "NoSuchValue", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(winapi::RegDeleteValueA(key.handle, "NoSuchValue"), ERROR_FILE_NOT_FOUND);

  // A buffer that is too small: ERROR_MORE_DATA, the size needed, the type.
  BYTE small[3] = {};
  DWORD size = sizeof small, type = 0;
  EXPECT_EQ(winapi::RegQueryValueExA(key.handle, "Text", nullptr, &type, small, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(winapi::RegQueryValueExA(key.handle, "Text", nullptr, nullptr, small, nullptr),
            ERROR_INVALID_PARAMETER);

  const HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t{0x7777});
  EXPECT_EQ(SetDword(bogus, "V", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(winapi::RegQueryValueExA(bogus, "V", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(winapi::RegCloseKey(bogus), ERROR_INVALID_HANDLE);
  Key child;
  EXPECT_EQ(Create(bogus, "X", child), ERROR_INVALID_HANDLE);

  Key bad;
  EXPECT_EQ(Create(Sandbox(), "\\Leading", bad), 161);  // ERROR_BAD_PATHNAME
  EXPECT_EQ(winapi::RegSetValueExA(key.handle, "V", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);

  EXPECT_EQ(winapi::RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  HKEY closed = nullptr;
  ASSERT_EQ(
      winapi::RegOpenKeyExA(HKEY_CURRENT_USER, SandboxPath("Errors").c_str(), 0, KEY_READ, &closed),
      ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegCloseKey(closed), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, AccessRightsOfTheHandleAreEnforced) {
  Key setup;
  ASSERT_EQ(Create(Sandbox(), "Rights", setup), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(setup.handle, "V", 5), ERROR_SUCCESS);

  Key readOnly, writeOnly;
  ASSERT_EQ(winapi::RegOpenKeyExA(Sandbox(), "Rights", 0, KEY_READ, &readOnly.handle),
            ERROR_SUCCESS);
  ASSERT_EQ(winapi::RegOpenKeyExA(Sandbox(), "Rights", 0, KEY_WRITE, &writeOnly.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(readOnly.handle, "V", 6), ERROR_ACCESS_DENIED);
  EXPECT_EQ(winapi::RegDeleteValueA(readOnly.handle, "V"), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(winapi::RegQueryValueExA(writeOnly.handle, "V", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(writeOnly.handle, "V", 6), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegDeleteValueA(writeOnly.handle, "v"), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegQueryValueExA(setup.handle, "V", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, KeysAreDeletedLeafFirstOrAsAWholeTree) {
  Key branch, leaf;
  ASSERT_EQ(Create(Sandbox(), "Tree\\Branch\\Leaf", leaf), ERROR_SUCCESS);
  ASSERT_EQ(Create(Sandbox(), "Tree\\Branch", branch), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(leaf.handle, "V", 1), ERROR_SUCCESS);
  DWORD size = 0;

  EXPECT_EQ(winapi::RegDeleteKeyA(Sandbox(), "Tree\\Branch"),
            ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(winapi::RegDeleteKeyA(Sandbox(), "tree\\BRANCH\\leaf"), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegDeleteKeyA(Sandbox(), "Tree\\Branch\\Leaf"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(winapi::RegDeleteKeyA(Sandbox(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(winapi::RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
  // A handle outlives its key but reaches nothing through it.
  EXPECT_EQ(SetDword(leaf.handle, "V", 2), static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(winapi::RegQueryValueExA(leaf.handle, "V", nullptr, nullptr, nullptr, &size),
            static_cast<LONG>(ERROR_KEY_DELETED));

  Key other;
  ASSERT_EQ(Create(Sandbox(), "Tree\\Branch\\Other\\Deep", other), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(branch.handle, "W", 2), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegDeleteTreeA(Sandbox(), "TREE"), ERROR_SUCCESS);
  Key gone;
  EXPECT_EQ(winapi::RegOpenKeyExA(Sandbox(), "Tree", 0, KEY_READ, &gone.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(winapi::RegDeleteTreeA(Sandbox(), "Tree"), ERROR_FILE_NOT_FOUND);
  // A key created again under the same name is a new key, not reached by the old handles.
  Key again, below;
  ASSERT_EQ(Create(Sandbox(), "Tree\\Branch", again), ERROR_SUCCESS);
  EXPECT_EQ(Create(branch.handle, "Below", below), static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(SetDword(branch.handle, "W", 3), static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(SetDword(other.handle, "X", 3), static_cast<LONG>(ERROR_KEY_DELETED));
}

TEST_F(RegistryApi, DeletingTheTreeOfAnOpenKeyEmptiesItAndKeepsIt) {
  Key kept, child, readOnly;
  ASSERT_EQ(Create(Sandbox(), "Kept\\Child\\Grandchild", child), ERROR_SUCCESS);
  ASSERT_EQ(Create(Sandbox(), "Kept", kept), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(kept.handle, "V", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(child.handle, "V", 1), ERROR_SUCCESS);

  EXPECT_EQ(winapi::RegDeleteTreeA(kept.handle, nullptr), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(winapi::RegQueryValueExA(kept.handle, "V", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  Key gone;
  EXPECT_EQ(winapi::RegOpenKeyExA(Sandbox(), "Kept\\Child", 0, KEY_READ, &gone.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetDword(kept.handle, "After", 2), ERROR_SUCCESS);
  Key again;
  ASSERT_EQ(Create(Sandbox(), "Kept\\Child\\Grandchild", again), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(child.handle, "V", 2), static_cast<LONG>(ERROR_KEY_DELETED));

  // Emptying needs the right to change the values.
  ASSERT_EQ(winapi::RegOpenKeyExA(Sandbox(), "Kept", 0, KEY_READ, &readOnly.handle), ERROR_SUCCESS);
  EXPECT_EQ(winapi::RegDeleteTreeA(readOnly.handle, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Query(kept.handle, "After"), (std::vector<BYTE>{2, 0, 0, 0}));
}

TEST_F(RegistryApi, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 3;
  constexpr int kValues = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      Key key;
      ASSERT_EQ(Create(Sandbox(), ("Threads\\T" + std::to_string(t)).c_str(), key), ERROR_SUCCESS);
      for (int v = 0; v < kValues; ++v) {
        ASSERT_EQ(SetDword(key.handle, ("V" + std::to_string(v)).c_str(), v), ERROR_SUCCESS);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    Key key;
    ASSERT_EQ(winapi::RegOpenKeyExA(Sandbox(), ("Threads\\T" + std::to_string(t)).c_str(), 0,
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
