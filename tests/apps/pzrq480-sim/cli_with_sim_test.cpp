// The command-line tool against the simulator over a real pseudo-terminal, both as
// separate programs, the way a user runs them.
#include "child_process.h"
#include "device_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <fstream>
#include <sstream>

namespace sim_test {
namespace {

namespace fs = std::filesystem;
using namespace device_test;

class CliWithSimTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    map = folder.Path() / "ports";
    log = folder.Path() / "frames.log";
    ::setenv("PZ_PORT_MAP_DIR", map.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PZ_PORT_MAP_DIR"); }

  void StartSim(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {PZ_SIM_PROGRAM, "--log", log.string()});
    sim = std::make_unique<ChildProcess>(args, Env());
    comName = sim->ReadLine().value_or("");
    ASSERT_EQ(comName.rfind("COM", 0), 0u) << sim->ErrorOutput();
    slavePath = sim->ReadLine().value_or("");
    ASSERT_FALSE(slavePath.empty());
  }

  std::unique_ptr<ChildProcess> Cli(std::vector<std::string> args) const {
    args.insert(args.begin(), PZ_CLI_PROGRAM);
    return std::make_unique<ChildProcess>(args, Env());
  }

  std::vector<std::string> Env() const { return {"PZ_PORT_MAP_DIR=" + map.string()}; }

  std::string Log() const {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The device's stored setting, asked directly once the tool is done with the port.
  std::uint8_t StoredSetting(std::uint8_t n, DWORD rate = 19200) {
    DevicePort port(comName, rate);
    const auto reply = port.Ask(ReadRequest(n));
    EXPECT_EQ(reply.size(), 4u);
    return reply.size() == 4 ? reply[2] : 0;
  }

  TempFolder folder;
  fs::path map;
  fs::path log;
  // The terminal's rate as the far side sees it, asked without opening the terminal
  // for ourselves: through the simulator's log of the next frame is too late.
  speed_t TerminalRate() const {
    const int fd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 0;
    termios settings{};
    const speed_t rate = ::tcgetattr(fd, &settings) == 0 ? ::cfgetospeed(&settings) : 0;
    ::close(fd);
    return rate;
  }

  std::unique_ptr<ChildProcess> sim;
  std::string comName;
  std::string slavePath;
};

TEST_F(CliWithSimTest, ReadShowsTheDevicesVersionsAndSettings) {
  StartSim({"--hw", "3.4", "--sw", "11", "--address", "23", "--s88-start", "137", "--s88-modules",
            "99", "--command-station", "1"});
  auto cli = Cli({"read", "--port", comName});
  ASSERT_EQ(cli->Wait(), 0) << cli->ErrorOutput() << Log();
  const std::string out = cli->RestOfOutput();
  for (const char* value : {"3.4", "11", "23", "137", "99", "Tran ZF5", "19200"}) {
    EXPECT_NE(out.find(value), std::string::npos) << value << " in\n" << out;
  }
  const std::string frames = Log();
  EXPECT_NE(frames.find("rx F0 F0 at 19200: version query"), std::string::npos) << frames;
  for (int n = 1; n <= 5; ++n) {
    EXPECT_NE(frames.find("rx F2 0" + std::to_string(n) + " FF"), std::string::npos) << n;
  }
}

TEST_F(CliWithSimTest, WriteChangesOnlyTheNamedSettingsAndReadsThemBack) {
  StartSim({"--address", "4", "--s88-start", "33", "--s88-modules", "2"});
  auto cli = Cli({"write", "--port", comName, "--address", "3", "--s88-modules", "7"});
  ASSERT_EQ(cli->Wait(), 0) << cli->ErrorOutput() << Log();
  EXPECT_EQ(StoredSetting(1), 3);
  EXPECT_EQ(StoredSetting(3), 33);
  EXPECT_EQ(StoredSetting(4), 7);
  EXPECT_NE(Log().find("rx F2 01 03 F0 at 19200: write setting"), std::string::npos) << Log();
}

TEST_F(CliWithSimTest, ABaudRateChangeIsWrittenAndTheDeviceIsFoundAtItsNewRate) {
  StartSim();
  auto write = Cli({"write", "--port", comName, "--baud-rate", "57600", "--address", "9"});
  ASSERT_EQ(write->Wait(), 0) << write->ErrorOutput() << Log();
  EXPECT_EQ(StoredSetting(2, 57600), 3);
  EXPECT_EQ(StoredSetting(1, 57600), 9);
  // At the old rate the device no longer answers, and the tool names the new one.
  auto oldRate = Cli({"read", "--port", comName, "--baud", "19200"});
  EXPECT_EQ(oldRate->Wait(), 1);
  EXPECT_NE(oldRate->ErrorOutput().find("the device answers at 57600 baud"), std::string::npos);
  auto newRate = Cli({"read", "--port", comName, "--baud", "57600"});
  EXPECT_EQ(newRate->Wait(), 0) << newRate->ErrorOutput() << Log();
  // Without --baud the read finds it.
  auto search = Cli({"read", "--port", comName});
  EXPECT_EQ(search->Wait(), 0) << search->ErrorOutput() << Log();
  EXPECT_NE(search->RestOfOutput().find("at 57600 baud"), std::string::npos);
}

TEST_F(CliWithSimTest, MisbehavingLinesEndInSecondsAndGiveNoValue) {
  StartSim({"--fault", "chatter"});
  auto read = Cli({"read", "--port", comName, "--baud", "19200"});
  const auto readStatus = read->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(readStatus) << "read hangs on a chattering line";
  EXPECT_EQ(*readStatus, 1);
  EXPECT_NE(read->ErrorOutput().find("the line does not fall silent"), std::string::npos);
  auto detect = Cli({"detect", "--port", comName});
  const auto detectStatus = detect->Wait(std::chrono::seconds(60));
  ASSERT_TRUE(detectStatus) << "detect hangs on a chattering line";
  EXPECT_EQ(*detectStatus, 1);
  sim->Signal(SIGTERM);
  ASSERT_TRUE(sim->Wait());

  StartSim({"--fault", "echo"});
  auto echo = Cli({"read", "--port", comName, "--json"});
  EXPECT_EQ(echo->Wait(), 1);
  const std::string out = echo->RestOfOutput();
  EXPECT_NE(out.find("\"xpressnetAddress\": null"), std::string::npos) << out;
  EXPECT_NE(echo->ErrorOutput().find("the line echoes what is sent"), std::string::npos);
}

TEST_F(CliWithSimTest, AWriteCutOffNamesWhatWasSent) {
  StartSim({"--fault", "stop-after=2"});
  auto write = Cli(
      {"write", "--port", comName, "--address", "9", "--s88-start", "70", "--s88-modules", "5"});
  EXPECT_EQ(write->Wait(), 1);
  const std::string error = write->ErrorOutput();
  EXPECT_NE(error.find("sent before it ended: XpressNet address 9, S88 start address 70"),
            std::string::npos)
      << error << Log();
  EXPECT_NE(error.find("not written: Baud rate, S88 module count, Command station"),
            std::string::npos)
      << error;
}

TEST_F(CliWithSimTest, TheSimulatorKilledDuringAReadEndsTheToolWithAnErrorNotAHang) {
  for (int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signal);
    StartSim();
    auto cli = Cli({"read", "--port", comName});
    // Once the version query has come, the five settings are still to be read.
    ASSERT_TRUE(WaitFor([&] { return Log().find("version query") != std::string::npos; },
                        std::chrono::seconds(30)));
    sim->Signal(signal);
    ASSERT_TRUE(sim->Wait());
    const auto status = cli->Wait(std::chrono::seconds(60));
    ASSERT_TRUE(status) << "the tool hangs";
    EXPECT_NE(*status, 0);
    const std::string error = cli->ErrorOutput();
    EXPECT_NE(error.find(comName), std::string::npos) << error;
    EXPECT_NE(error.find("The device is gone: it was unplugged, or the program behind the line "
                         "ended."),
              std::string::npos)
        << error;
  }
}

// Without the mend the tool dies at once: the terminal keeps 38400 baud, the lock file
// stays and the exclusive flag refuses the next open.
TEST_F(CliWithSimTest, ASignalDuringAReadClosesThePortCleanly) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    StartSim({"--fault", "chatter"});
    const speed_t before = TerminalRate();
    auto cli = Cli({"read", "--port", comName, "--baud", "38400"});
    ASSERT_TRUE(WaitFor([&] { return Log().find("rx F0 F0 at 38400") != std::string::npos; },
                        std::chrono::seconds(30)));
    cli->Signal(signal);
    const auto status = cli->Wait(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 128 + signal);
    EXPECT_NE(cli->ErrorOutput().find("ended by signal"), std::string::npos);
    EXPECT_EQ(TerminalRate(), before);
    std::string pts = slavePath.substr(5);
    std::replace(pts.begin(), pts.end(), '/', '_');
    EXPECT_FALSE(fs::exists("/run/lock/LCK.." + pts));
    EXPECT_FALSE(fs::exists("/var/lock/LCK.." + pts));
    // The next tool opens the port.
    auto next = Cli({"read", "--port", comName, "--baud", "19200"});
    ASSERT_TRUE(next->Wait(std::chrono::seconds(60)));
    EXPECT_EQ(next->ErrorOutput().find("Unable to open"), std::string::npos) << next->ErrorOutput();
    sim->Signal(SIGTERM);
    ASSERT_TRUE(sim->Wait());
  }
}

TEST_F(CliWithSimTest, ASignalDuringAWriteFinishesTheFramesAndSaysWhatWasWritten) {
  StartSim();
  auto cli = Cli({"write", "--port", comName, "--address", "9", "--s88-modules", "5"});
  ASSERT_TRUE(WaitFor([&] { return Log().find("write setting") != std::string::npos; },
                      std::chrono::seconds(30)));
  cli->Signal(SIGINT);
  ASSERT_EQ(cli->Wait(std::chrono::seconds(30)), 128 + SIGINT);
  const std::string error = cli->ErrorOutput();
  EXPECT_NE(error.find("sent before it ended: XpressNet address 9, Baud rate 19200, S88 start "
                       "address 1, S88 module count 5, Command station General (Lenz, Roco)"),
            std::string::npos)
      << error;
  // No frame was cut in half.
  EXPECT_EQ(Log().find("incomplete"), std::string::npos) << Log();
  EXPECT_EQ(StoredSetting(1), 9);
  EXPECT_EQ(StoredSetting(4), 5);
}

TEST_F(CliWithSimTest, ThePortMapEntryIsGoneOnceTheSimulatorEndsAndThePortWithIt) {
  StartSim();
  ASSERT_TRUE(fs::exists(fs::symlink_status(map / comName)));
  sim->Signal(SIGTERM);
  ASSERT_EQ(sim->Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(map / comName)));
  auto cli = Cli({"read", "--port", comName});
  const auto status = cli->Wait();
  ASSERT_TRUE(status);
  EXPECT_NE(*status, 0);
}

TEST_F(CliWithSimTest, ASilentDeviceIsOneConclusionOnStandardError) {
  StartSim({"--fault", "silent"});
  auto cli = Cli({"read", "--port", comName});
  EXPECT_EQ(cli->Wait(), 1);
  EXPECT_EQ(cli->RestOfOutput(), "");
  EXPECT_EQ(cli->ErrorOutput(), comName +
                                    ": no device answers at 19200, 38400, 57600 or 115200 baud; "
                                    "check the port, the cable and the device's power\n");
}

// Saved, reset, restored; a file that is refused sends nothing to the device.
TEST_F(CliWithSimTest, ASavedReadIsWrittenBackWithFrom) {
  StartSim({"--address", "7", "--s88-start", "40", "--command-station", "1"});
  auto save = Cli({"read", "--port", comName, "--json"});
  ASSERT_EQ(save->Wait(), 0) << save->ErrorOutput();
  const fs::path saved = folder.Path() / "mine.json";
  std::ofstream(saved) << save->RestOfOutput();
  auto reset = Cli(
      {"write", "--port", comName, "--address", "1", "--s88-start", "1", "--command-station", "0"});
  ASSERT_EQ(reset->Wait(), 0) << reset->ErrorOutput();

  auto restore = Cli({"write", "--port", comName, "--from", saved.string()});
  ASSERT_EQ(restore->Wait(), 0) << restore->ErrorOutput() << Log();
  EXPECT_EQ(StoredSetting(1), 7);
  EXPECT_EQ(StoredSetting(3), 40);
  EXPECT_EQ(StoredSetting(5), 1);

  const std::size_t logged = Log().size();
  std::ofstream(saved) << "{\"settings\": {\"xpressnetAddress\": 7, \"volume\": 3}}";
  auto refused = Cli({"write", "--port", comName, "--from", saved.string()});
  EXPECT_EQ(refused->Wait(), 1);
  EXPECT_EQ(refused->ErrorOutput(),
            saved.string() + ": unknown key \"volume\" in \"settings\"; nothing was written\n");
  const std::string after = Log().substr(logged);
  EXPECT_EQ(after.find(" rx "), std::string::npos) << after;
  EXPECT_EQ(after.find("opened"), std::string::npos) << after;
}

}  // namespace
}  // namespace sim_test
