// The command-line tool's port commands against the simulator on a real pseudo-terminal:
// pinning a COM name, a socat bridge in front of the device, and naming a port's holder.
#include "../../winapi/linux/socat_pair.h"
#include "child_process.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sim_test {
namespace {

namespace fs = std::filesystem;
using winapi::testing::SocatPair;

class CliPortsWithSimTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    sim = std::make_unique<ChildProcess>(
        std::vector<std::string>{PZ_SIM_PROGRAM, "--address", "17"}, Env());
    simCom = sim->ReadLine().value_or("");
    simPty = sim->ReadLine().value_or("");
    ASSERT_FALSE(simPty.empty()) << sim->ErrorOutput();
  }

  std::vector<std::string> Env() const {
    return {"PZ_PORT_MAP_DIR=" + (folder.Path() / "ports").string()};
  }

  // Runs the tool to its end; its exit status, output and errors.
  struct Run {
    int status;
    std::string out;
    std::string err;
  };
  Run Cli(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{PZ_CLI_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess cli(argv, Env());
    const int status = cli.Wait(std::chrono::seconds(60)).value_or(-1);
    return {status, cli.RestOfOutput(), cli.ErrorOutput()};
  }

  TempFolder folder;
  std::unique_ptr<ChildProcess> sim;
  std::string simCom;
  std::string simPty;
};

TEST_F(CliPortsWithSimTest, AMappedComNameReadsTheDevice) {
  Run run = Cli({"map", "COM11", simPty});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::read_symlink(folder.Path() / "ports" / "COM11"), simPty);
  run = Cli({"read", "--port", "COM11"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("XpressNet address: 17"), std::string::npos) << run.out;

  run = Cli({"unmap", "COM11"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder.Path() / "ports" / "COM11")));
}

TEST_F(CliPortsWithSimTest, AReadThroughASocatBridgeWorksAndTheBridgeHoldsTheDevice) {
  SocatPair bridge("FILE:" + simPty + ",raw,echo=0,b19200");
  ASSERT_TRUE(bridge.Ready());
  Run run = Cli({"read", "--port", bridge.A()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("XpressNet address: 17"), std::string::npos) << run.out;

  // The device's own port is socat's now: the list names the holder and its path.
  run = Cli({"ports", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string entry = "{\"name\": \"" + simCom + "\", \"device\": \"" + simPty +
                            "\", \"state\": \"inUse\", \"status\": \"in use by socat (pid " +
                            std::to_string(bridge.Pid()) + ")\"";
  EXPECT_NE(run.out.find(entry), std::string::npos) << run.out;
  run = Cli({"read", "--port", simCom});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(simPty + ": in use by socat (pid " + std::to_string(bridge.Pid()) + ")"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace sim_test
