// The window's port list follows the port map: a link that appears or goes is noticed by
// the port watch and the ports are probed again, headless.
#include "configurator/form_test_support.h"
#include "configurator/port_watch.h"

#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace configurator::testing {
namespace {

// The master side of a pseudo-terminal; its slave is a terminal the probe can open.
class PtyMaster {
 public:
  PtyMaster() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    char name[128] = {};
    if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0 &&
        ::ptsname_r(fd_, name, sizeof name) == 0) {
      slave_ = name;
    }
  }
  ~PtyMaster() {
    if (fd_ >= 0) ::close(fd_);
  }
  const std::string& SlavePath() const { return slave_; }

 private:
  int fd_;
  std::string slave_;
};

// Points a port-map entry somewhere for the test's length, then back to nowhere.
class MapEntry {
 public:
  explicit MapEntry(std::string name)
      : link_(std::filesystem::path(std::getenv("PZ_PORT_MAP_DIR")) / std::move(name)) {}
  ~MapEntry() { PointAt("/nonexistent"); }
  void PointAt(const std::string& target) {
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    std::filesystem::create_symlink(target, link_);
  }

 private:
  std::filesystem::path link_;
};

class PortWatchTest : public FormTest {
 protected:
  bool Lists(const std::string& name) const {
    const auto& items = form->cbPort.Items();
    return std::find(items.begin(), items.end(), name) != items.end();
  }
  PtyMaster pty;
};

// Without the watch, the list stays as the start-up probe left it.
TEST_F(PortWatchTest, APortMapEntryThatAppearsOrGoesIsProbedAgain) {
  ASSERT_FALSE(pty.SlavePath().empty());
  auto com3 = winapi::VirtualLine::Create("COM3");
  Create();
  ASSERT_EQ(form->cbPort.Items(), std::vector<std::string>{"COM3"});
  MapEntry com9("COM9");
  PortWatch watch([this] { form->PortsChanged(); });

  com9.PointAt(pty.SlavePath());
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM9"); }, kLimit));
  EXPECT_EQ(form->cbPort.Items(), (std::vector<std::string>{"COM3", "COM9"}));
  EXPECT_EQ(form->cbPort.Text(), "COM3");
  // Each item's hint is the device its name leads to.
  ASSERT_EQ(form->cbPort.ItemHints().size(), 2u);
  EXPECT_EQ(form->cbPort.ItemHints()[1], std::filesystem::canonical(pty.SlavePath()).string());
  EXPECT_EQ(form->cbPort.ItemHints()[0], "/nonexistent");  // a virtual line goes first

  com9.PointAt("/nonexistent");
  ASSERT_TRUE(app.RunUntil([&] { return !Lists("COM9"); }, kLimit));
  EXPECT_EQ(form->cbPort.Items(), std::vector<std::string>{"COM3"});
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(PortWatchTest, AWatchEndsCleanlyAndTellsNothingAfterwards) {
  Create();
  int told = 0;
  {
    PortWatch watch([&] { ++told; });
  }
  MapEntry com9("COM9");
  com9.PointAt(pty.SlavePath());
  // A second watch, alive, hears the next change; the ended one stays silent.
  int heard = 0;
  PortWatch alive([&] { ++heard; });
  com9.PointAt("/nonexistent");
  ASSERT_TRUE(app.RunUntil([&] { return heard > 0; }, kLimit));
  EXPECT_EQ(told, 0);
}

// A port-map folder in the making: filled in a staging folder beside it (every COM name
// but one leading nowhere, as the start-up probe's map), then moved into place at once.
class LateMapFolder {
 public:
  explicit LateMapFolder(const std::string& slave)
      : root_(std::filesystem::path(std::getenv("PZ_PORT_MAP_DIR")).string() + "-late"),
        folder_(root_ / "pzrq480" / "ports"),
        slave_(slave),
        previous_(std::getenv("PZ_PORT_MAP_DIR")) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    ::setenv("PZ_PORT_MAP_DIR", folder_.c_str(), 1);
  }
  ~LateMapFolder() {
    ::setenv("PZ_PORT_MAP_DIR", previous_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  void MakeParent() const { std::filesystem::create_directories(folder_.parent_path()); }
  void MoveIn() const {
    const auto staging = root_ / "staging";
    std::filesystem::create_directories(staging);
    for (int i = 1; i <= 21; ++i) {
      std::filesystem::create_symlink(i == 9 ? slave_ : "/nonexistent",
                                      staging / ("COM" + std::to_string(i)));
    }
    std::filesystem::rename(staging, folder_);
  }
  void Remove() const { std::filesystem::remove_all(folder_); }

 private:
  std::filesystem::path root_;
  std::filesystem::path folder_;
  std::string slave_;
  std::string previous_;
};

// `pzrq480-cli map` makes the folder on first use, maybe while the window is open; and a
// folder removed and made again is followed as well.
TEST_F(PortWatchTest, APortMapFolderMadeAfterTheWatchBeganIsFollowed) {
  ASSERT_FALSE(pty.SlavePath().empty());
  auto com3 = winapi::VirtualLine::Create("COM3");
  Create();
  LateMapFolder late(pty.SlavePath());
  PortWatch watch([this] { form->PortsChanged(); });

  late.MakeParent();  // one step nearer: the watch moves down to it
  late.MoveIn();
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM9"); }, kLimit));
  EXPECT_EQ(form->cbPort.Items(), (std::vector<std::string>{"COM3", "COM9"}));

  late.Remove();
  ASSERT_TRUE(app.RunUntil([&] { return !Lists("COM9"); }, kLimit));
  late.MoveIn();
  ASSERT_TRUE(app.RunUntil([&] { return Lists("COM9"); }, kLimit));
  EXPECT_TRUE(app.Errors().empty());
}

}  // namespace
}  // namespace configurator::testing
