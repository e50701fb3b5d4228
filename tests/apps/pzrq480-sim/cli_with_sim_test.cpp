// The command-line tool against the simulator over a real pseudo-terminal, both as
// separate programs, the way a user runs them.
#include "child_process.h"
#include "device_port.h"

#include <gtest/gtest.h>

#include <filesystem>
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
    ASSERT_TRUE(sim->ReadLine());
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
  std::unique_ptr<ChildProcess> sim;
  std::string comName;
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
  auto write = Cli({"write", "--port", comName, "--address", "9", "--s88-start", "70",
                    "--s88-modules", "5"});
  EXPECT_EQ(write->Wait(), 1);
  const std::string error = write->ErrorOutput();
  EXPECT_NE(error.find("sent before the error: XpressNet address 9, S88 start address 70"),
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
  }
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

TEST_F(CliWithSimTest, ASilentDeviceIsReportedAsNoReply) {
  StartSim({"--fault", "silent"});
  auto cli = Cli({"read", "--port", comName});
  const auto status = cli->Wait();
  ASSERT_TRUE(status);
  EXPECT_NE(*status, 0);
  EXPECT_NE((cli->RestOfOutput() + cli->ErrorOutput()).find("no reply"), std::string::npos);
}

}  // namespace
}  // namespace sim_test
