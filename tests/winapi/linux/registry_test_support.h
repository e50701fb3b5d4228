// Points the emulated registry at a private file for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <unistd.h>

namespace winapi::testing {

class PrivateRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("pz-registry-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    if (const char* old = std::getenv("PZ_REGISTRY_FILE")) previous_ = old;
    ::setenv("PZ_REGISTRY_FILE", File().c_str(), 1);
  }
  void TearDown() override {
    if (previous_) {
      ::setenv("PZ_REGISTRY_FILE", previous_->c_str(), 1);
    } else {
      ::unsetenv("PZ_REGISTRY_FILE");
    }
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path File() const { return folder_ / "registry.dat"; }
  const std::filesystem::path& Folder() const { return folder_; }
  std::string FileText() const {
    std::ifstream in(File(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void WriteFileText(const std::string& text) const {
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << text;
  }

 private:
  std::filesystem::path folder_;
  std::optional<std::string> previous_;
};

}  // namespace winapi::testing
