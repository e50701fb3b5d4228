#include "port_registration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace sim {
namespace {

namespace fs = std::filesystem;

class PortRegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pz-sim-map-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    map = root / "ports";
  }
  void TearDown() override { fs::remove_all(root); }

  void Occupy(const std::string& name) {
    fs::create_directories(map);
    fs::create_symlink("/dev/null", map / name);
  }

  fs::path root;
  fs::path map;
  const std::string target = "/dev/pts/999";
};

TEST_F(PortRegistrationTest, TakesTheFirstFreeNameAndCreatesTheFolder) {
  // COM1..COM4 stand for built-in UARTs that may exist here; take them off the table.
  for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5"}) Occupy(name);
  if (fs::exists("/dev/ttyUSB1")) GTEST_SKIP() << "this machine has /dev/ttyUSB1";
  {
    PortRegistration registration(map, std::nullopt, target);
    EXPECT_EQ(registration.ComName(), "COM6");
    EXPECT_EQ(fs::read_symlink(map / "COM6"), target);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(map / "COM6")));
  EXPECT_TRUE(fs::exists(fs::symlink_status(map / "COM5")));
}

TEST_F(PortRegistrationTest, TwoSimulatorsGetTwoNames) {
  PortRegistration first(map, std::nullopt, target);
  PortRegistration second(map, std::nullopt, "/dev/pts/998");
  EXPECT_NE(first.ComName(), second.ComName());
  EXPECT_EQ(fs::read_symlink(second.LinkPath()), "/dev/pts/998");
}

TEST_F(PortRegistrationTest, AGivenNameIsUsedEvenBeyondTwenty) {
  PortRegistration registration(map, std::string("COM42"), target);
  EXPECT_EQ(registration.ComName(), "COM42");
  EXPECT_EQ(fs::read_symlink(map / "COM42"), target);
}

TEST_F(PortRegistrationTest, AGivenNameThatIsTakenIsRefusedAndLeftAlone) {
  Occupy("COM9");
  try {
    PortRegistration registration(map, std::string("COM9"), target);
    ADD_FAILURE() << "took COM9";
  } catch (const RegistrationError& error) {
    EXPECT_NE(std::string(error.what()).find("COM9 is taken"), std::string::npos);
  }
  EXPECT_EQ(fs::read_symlink(map / "COM9"), "/dev/null");
}

TEST_F(PortRegistrationTest, NoFreeNameIsAnError) {
  for (int n = 1; n <= 20; ++n) Occupy("COM" + std::to_string(n));
  EXPECT_THROW(PortRegistration(map, std::nullopt, target), RegistrationError);
}

TEST_F(PortRegistrationTest, AnEntryReplacedMeanwhileIsNotRemoved) {
  {
    PortRegistration registration(map, std::string("COM8"), target);
    fs::remove(map / "COM8");
    fs::create_symlink("/dev/zero", map / "COM8");
  }
  EXPECT_EQ(fs::read_symlink(map / "COM8"), "/dev/zero");
}

TEST_F(PortRegistrationTest, AFolderThatCannotBeMadeIsAnError) {
  fs::create_directories(root);
  std::FILE* file = std::fopen((root / "blocker").c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_THROW(PortRegistration(root / "blocker" / "ports", std::nullopt, target),
               RegistrationError);
}

}  // namespace
}  // namespace sim
