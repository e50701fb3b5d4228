// A per-test registry key under HKEY_CURRENT_USER, deleted with everything in it when the
// test ends. On Windows it lives in the user's real registry; elsewhere the emulated
// registry is first pointed at a private file, so no test touches the user's own one.
#pragma once

#include "winapi/winapi.h"

#ifndef _WIN32
#include "linux/registry_test_support.h"
#endif

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace winapi::testing {

// Creates the key on construction (clearing what a crashed run left there) and deletes
// its whole tree on destruction.
class ScratchRegistryKey {
 public:
  explicit ScratchRegistryKey(std::string path) : path_(std::move(path)) {
    winapi::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_EQ(winapi::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle_,
                                      nullptr),
              ERROR_SUCCESS)
        << path_;
  }
  ~ScratchRegistryKey() {
    if (handle_ != nullptr) winapi::RegCloseKey(handle_);
    EXPECT_EQ(winapi::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()), ERROR_SUCCESS) << path_;
  }
  ScratchRegistryKey(const ScratchRegistryKey&) = delete;
  ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

  HKEY Handle() const { return handle_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  HKEY handle_ = nullptr;
};

#ifdef _WIN32
using SystemRegistryTest = ::testing::Test;
#else
using SystemRegistryTest = PrivateRegistry;
#endif

class RegistrySandbox : public SystemRegistryTest {
 protected:
  static constexpr const char* kTestsKey = "Software\\pzrq480-tests";

  void SetUp() override {
    SystemRegistryTest::SetUp();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // Appended in place: GCC 12 warns falsely about a chain of + on a temporary here.
    std::string name = kTestsKey;
    name.append("\\").append(test->test_suite_name()).append(".").append(test->name());
    key_.emplace(std::move(name));
    ASSERT_NE(key_->Handle(), nullptr);
  }
  void TearDown() override {
    key_.reset();
    winapi::RegDeleteKeyA(HKEY_CURRENT_USER, kTestsKey);  // refused while other tests' keys remain
    SystemRegistryTest::TearDown();
  }

  // The test's key, open with all rights.
  HKEY Sandbox() const { return key_->Handle(); }
  // A path below the test's key, relative to HKEY_CURRENT_USER.
  std::string SandboxPath(const std::string& below) const { return key_->Path() + "\\" + below; }

 private:
  std::optional<ScratchRegistryKey> key_;
};

}  // namespace winapi::testing
