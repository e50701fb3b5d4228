// The simulator as a program: options, its port map entry, serving a port opened by its
// COM name, and its end.
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
using Bytes = std::vector<std::uint8_t>;

class SimProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    map = folder.Path() / "ports";
    // Our own port opens look the COM name up in the same folder.
    ::setenv("PZ_PORT_MAP_DIR", map.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PZ_PORT_MAP_DIR"); }

  // Starts the simulator and reads the COM name and the terminal's path it prints.
  std::unique_ptr<ChildProcess> Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), PZ_SIM_PROGRAM);
    auto sim = std::make_unique<ChildProcess>(
        args, std::vector<std::string>{"PZ_PORT_MAP_DIR=" + map.string()});
    comName = sim->ReadLine().value_or("");
    ptyPath = sim->ReadLine().value_or("");
    EXPECT_EQ(comName.rfind("COM", 0), 0u) << sim->ErrorOutput();
    EXPECT_EQ(ptyPath.rfind("/dev/pts/", 0), 0u) << sim->ErrorOutput();
    return sim;
  }

  bool Registered() const { return fs::exists(fs::symlink_status(map / comName)); }

  TempFolder folder;
  fs::path map;
  std::string comName;
  std::string ptyPath;
};

TEST_F(SimProcessTest, RegistersItsTerminalAndAnswersUnderTheComName) {
  auto sim = Start({"--hw", "2.3", "--sw", "9", "--address", "5", "--s88-start", "97"});
  ASSERT_TRUE(Registered());
  EXPECT_EQ(fs::read_symlink(map / comName), ptyPath);
  DevicePort port(comName, 19200);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Ask(kVersionRequest), WithChecksum({0x02, 0x23, 9}));
  EXPECT_EQ(port.Ask(ReadRequest(1)), WithChecksum({0xF2, 1, 5}));
  EXPECT_EQ(port.Ask(ReadRequest(3)), WithChecksum({0xF2, 3, 97}));
}

TEST_F(SimProcessTest, WritesAreReadBackAndABaudRateChangeIsFollowed) {
  const fs::path log = folder.Path() / "frames.log";
  auto sim = Start({"--log", log.string()});
  DevicePort port(comName, 19200);
  port.Send(WriteRequest(4, 12));
  EXPECT_EQ(port.Ask(ReadRequest(4)), WithChecksum({0xF2, 4, 12}));
  port.Send(WriteRequest(2, 2));
  // The port changes its rate only once the device has taken the write, as a real UART
  // would have sent it by then.
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("rx F2 02 02 F2 at 19200: write setting") != std::string::npos;
  }));
  port.SetRate(38400);
  EXPECT_EQ(port.Ask(ReadRequest(2)), WithChecksum({0xF2, 2, 2}));
}

TEST_F(SimProcessTest, TerminationSignalsRemoveTheEntryAndEndCleanly) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    auto sim = Start();
    ASSERT_TRUE(Registered());
    sim->Signal(signal);
    EXPECT_EQ(sim->Wait(), 0) << sim->ErrorOutput();
    EXPECT_FALSE(Registered());
  }
}

TEST_F(SimProcessTest, EndingWhileAPortIsOpenHangsItUp) {
  auto sim = Start();
  DevicePort port(comName, 19200);
  EXPECT_EQ(port.Ask(ReadRequest(1)).size(), 4u);
  sim->Signal(SIGKILL);
  ASSERT_TRUE(sim->Wait());
  EXPECT_TRUE(WaitFor([&] { return port.ReadError() == ERROR_DEVICE_NOT_CONNECTED; }));
}

TEST_F(SimProcessTest, TwoSimulatorsTakeTwoNamesAndAGivenNameIsUsed) {
  auto first = Start();
  const std::string firstName = comName;
  auto second = Start({"--com", "COM17"});
  EXPECT_EQ(comName, "COM17");
  EXPECT_NE(firstName, comName);
  // A third asking for a taken name is refused with a message.
  ChildProcess third({PZ_SIM_PROGRAM, "--com", "COM17"}, {"PZ_PORT_MAP_DIR=" + map.string()});
  EXPECT_EQ(third.Wait(), 1);
  EXPECT_NE(third.ErrorOutput().find("COM17 is taken"), std::string::npos);
  EXPECT_EQ(fs::read_symlink(map / "COM17"), ptyPath);
}

TEST_F(SimProcessTest, LogsEachFrameWithATimeStamp) {
  const fs::path log = folder.Path() / "frames.log";
  auto sim = Start({"--log", log.string()});
  {
    DevicePort port(comName, 19200);
    EXPECT_EQ(port.Ask(ReadRequest(5)).size(), 4u);
  }
  auto logText = [&] {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  // The device notices the close on its own thread; end it only after that.
  ASSERT_TRUE(WaitFor([&] { return logText().find(" port closed\n") != std::string::npos; }));
  sim->Signal(SIGTERM);
  ASSERT_EQ(sim->Wait(), 0);
  const std::string all = logText();
  for (const std::string expected :
       {" port opened\n", " rx F2 05 FF 08 at 19200: read setting\n", " tx F2 05 00 F7\n",
        " port closed\n", " ending on signal 15\n"}) {
    EXPECT_NE(all.find(expected), std::string::npos) << expected << " in\n" << all;
  }
  // Every line starts with a time of day and the milliseconds since the start.
  std::istringstream lines(all);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.size() > 14 && line[2] == ':' && line[5] == ':' && line[8] == '.' &&
                line.find(" ms ") != std::string::npos)
        << line;
  }
}

TEST_F(SimProcessTest, FaultOptionsReachTheDevice) {
  auto sim = Start({"--fault", "bad-checksum"});
  DevicePort port(comName, 19200);
  const Bytes reply = port.Ask(ReadRequest(1));
  ASSERT_EQ(reply.size(), 4u);
  EXPECT_EQ(reply[3], static_cast<std::uint8_t>(WithChecksum({0xF2, 1, 1})[3] ^ 0xFF));
}

TEST(SimProgram, HelpAndUsageErrors) {
  ChildProcess help({PZ_SIM_PROGRAM, "--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.RestOfOutput().find("Usage: pzrq480-sim"), std::string::npos);

  ChildProcess bad({PZ_SIM_PROGRAM, "--sw", "300"});
  EXPECT_EQ(bad.Wait(), 2);
  const std::string error = bad.ErrorOutput();
  EXPECT_NE(error.find("pzrq480-sim: --sw takes a number from 0 to 255, not \"300\""),
            std::string::npos);
  EXPECT_NE(error.find("Usage:"), std::string::npos);
}

}  // namespace
}  // namespace sim_test
