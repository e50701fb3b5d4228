// The command-line tool on a real pseudo-terminal, with the emulated device on its master.
#include "device/pty_device.h"
#include "configurator/form_test_support.h"
#include "configurator/tool_test_support.h"

namespace configurator::testing {
namespace {

class PtyTool : public FormTest {
 protected:
  device::PtyDevice dev;
};

TEST_F(PtyTool, ReadWriteAndDetectOverATerminal) {
  const std::string port = dev.SlavePath();

  auto run = RunToolWith({"read", "--port", port});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Hardware version: 1.2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("XpressNet address: 1"), std::string::npos) << run.out;

  run = RunToolWith({"write", "--port", port, "--address", "3", "--baud-rate", "57600",
                     "--s88-start", "65", "--s88-modules", "4", "--command-station", "Tran ZF5"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev.State().settings, (std::array<std::uint8_t, 5>{3, 3, 65, 4, 1}));
  EXPECT_EQ(dev.State().baudRate, 57600u);
  EXPECT_TRUE(dev.WaitPortOpen(false, kLimit));

  run = RunToolWith({"detect", "--port", port});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, port + " at 57600 baud: PZ-RQ480, hardware 1.2, software 7\n");

  run = RunToolWith({"read", "--port", port, "--baud", "57600", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"commandStation\": \"Tran ZF5\""), std::string::npos) << run.out;
}

TEST_F(PtyTool, ASilentDeviceOnATerminalIsNoReply) {
  dev.SetFault({device::Fault::Silent});
  const auto run = RunToolWith({"read", "--port", dev.SlavePath()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, dev.SlavePath() +
                         ": no device answers at 19200, 38400, 57600 or 115200 baud; check the "
                         "port, the cable and the device's power\n");
}

}  // namespace
}  // namespace configurator::testing
