#include "winapi/port_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <unistd.h>

namespace winapi {
namespace {

namespace fs = std::filesystem;

TEST(PortMapTest, ComNamesAreRecognisedAsWindowsDoes) {
  EXPECT_EQ(ComPortNumber("COM1"), 1u);
  EXPECT_EQ(ComPortNumber("com7"), 7u);
  EXPECT_EQ(ComPortNumber("Com20"), 20u);
  EXPECT_EQ(ComPortNumber("COM255"), 255u);
  for (const char* name : {"COM", "COM0", "COM01", "COM256", "COM1000", "COMX", "COM1a", "LPT1",
                           "XCOM1", "COM-1", "CO1", ""}) {
    EXPECT_EQ(ComPortNumber(name), std::nullopt) << name;
  }
}

TEST(PortMapTest, DefaultTableCoversComOneToTwenty) {
  EXPECT_EQ(DefaultComPortPath(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultComPortPath(4), "/dev/ttyS3");
  EXPECT_EQ(DefaultComPortPath(5), "/dev/ttyUSB0");
  EXPECT_EQ(DefaultComPortPath(12), "/dev/ttyUSB7");
  EXPECT_EQ(DefaultComPortPath(13), "/dev/ttyACM0");
  EXPECT_EQ(DefaultComPortPath(20), "/dev/ttyACM7");
  EXPECT_EQ(DefaultComPortPath(21), std::nullopt);
  EXPECT_EQ(DefaultComPortPath(0), std::nullopt);
}

class PortMapFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pz-port-map-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(PortMapFolderTest, LinksInTheFolderWinOverTheDefaultTable) {
  fs::create_symlink("/dev/ttyUSB3", dir_ / "COM3");
  fs::create_symlink("../somewhere/ttyX", dir_ / "COM40");

  EXPECT_EQ(ResolveComPortPathIn("COM3", dir_), "/dev/ttyUSB3");
  EXPECT_EQ(ResolveComPortPathIn("com3", dir_), "/dev/ttyUSB3");
  // Beyond the default table only the map knows a port; relative links count from the folder.
  EXPECT_EQ(ResolveComPortPathIn("COM40", dir_),
            (dir_.parent_path() / "somewhere" / "ttyX").lexically_normal().string());
  EXPECT_EQ(ResolveComPortPathIn("COM41", dir_), std::nullopt);
  // Without an entry the default table answers.
  EXPECT_EQ(ResolveComPortPathIn("COM5", dir_), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveComPortPathIn("COM5", std::nullopt), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveComPortPathIn("ttyUSB0", dir_), std::nullopt);
}

TEST_F(PortMapFolderTest, AnEntryThatIsNoLinkIsUsedAsTheDevice) {
  std::ofstream(dir_ / "COM2") << "not a link";
  EXPECT_EQ(ResolveComPortPathIn("COM2", dir_), (dir_ / "COM2").string());
}

TEST_F(PortMapFolderTest, AMissingFolderFallsBackToTheTable) {
  EXPECT_EQ(ResolveComPortPathIn("COM13", dir_ / "absent"), "/dev/ttyACM0");
}

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PortMapDirectoryTest, OverrideThenXdgThenHome) {
  {
    ScopedEnv overrideDir("PZ_PORT_MAP_DIR", "/tmp/map");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(PortMapDirectory(), fs::path("/tmp/map"));
  }
  {
    // Without the mend a relative folder is silently ignored for the XDG one.
    ScopedEnv overrideDir("PZ_PORT_MAP_DIR", "my-ports/../ports");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(PortMapDirectory(), fs::current_path() / "ports");
  }
  {
    ScopedEnv overrideDir("PZ_PORT_MAP_DIR", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(PortMapDirectory(), fs::path("/tmp/xdg/pzrq480/ports"));
  }
  {
    ScopedEnv overrideDir("PZ_PORT_MAP_DIR", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(PortMapDirectory(), fs::path("/home/someone/.config/pzrq480/ports"));
  }
  {
    ScopedEnv overrideDir("PZ_PORT_MAP_DIR", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(PortMapDirectory(), std::nullopt);
  }
}

}  // namespace
}  // namespace winapi
