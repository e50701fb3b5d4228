// The command-line tool through network serial servers in front of the emulated device.
#include "configurator/form_test_support.h"
#include "configurator/linux/network_peers.h"
#include "configurator/tool_test_support.h"
#include "device/pty_device.h"
#include "winapi/debug_output.h"
#include "winapi/winapi.h"

namespace configurator::testing {
namespace {

using Kind = NetworkPeer::Kind;

class NetworkTool : public FormTest {
 protected:
  void Require(Kind kind) {
    std::string missing;
    if (!NetworkPeer::Available(kind, missing)) GTEST_SKIP() << missing << " is not installed";
  }

  // Runs the tool, then waits until the server has let go of the device, so that the
  // next run finds it free.
  // The reason for a failure goes to the debugger output: it is kept with the error output.
  // ser2net takes a new client only once it has finished with the last one, some time
  // after it closed the device; until then it closes the connection at once, and the run
  // is repeated.
  ToolRun Run(const NetworkPeer& server, const std::vector<std::string>& args) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    ToolRun run;
    do {
      std::string debug;
      winapi::SetDebugOutputSink([&debug](std::string_view text) {
        if (text.find("CreateFile") == std::string_view::npos) debug += std::string(text) + "\n";
      });
      run = RunToolWith(args);
      winapi::SetDebugOutputSink(nullptr);
      run.err += debug;
      if (server.ReleasesTheDevice()) {
        EXPECT_TRUE(dev.WaitPortOpen(false, kLimit));
      }
    } while (run.status != 0 &&
             run.err.find("the server closed the connection") != std::string::npos &&
             std::chrono::steady_clock::now() < deadline);
    return run;
  }

  device::PtyDevice dev;
};

TEST_F(NetworkTool, ReadsAndWritesThroughSer2netWithTheSpeedChangeFollowing) {
  Require(Kind::Ser2netTelnet);
  NetworkPeer server(Kind::Ser2netTelnet, dev.SlavePath());
  const std::string port = server.Url();

  auto run = Run(server, {"read", "--port", port});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Hardware version: 1.2"), std::string::npos) << run.out;

  run = Run(server, {"write", "--port", port, "--address", "3", "--baud-rate", "57600"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev.State().settings[0], 3);
  EXPECT_EQ(dev.State().baudRate, 57600u);

  run = Run(server, {"read", "--port", port, "--baud", "57600"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("XpressNet address: 3"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Baud rate: 57600"), std::string::npos) << run.out;
}

TEST_F(NetworkTool, ReadsAndWritesThroughSer2netAsRawTcp) {
  Require(Kind::Ser2netRaw);
  NetworkPeer server(Kind::Ser2netRaw, dev.SlavePath(), 19200);
  const std::string port = server.Url();

  auto run = Run(server, {"read", "--port", port});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Software version: 7"), std::string::npos) << run.out;

  run = Run(server, {"write", "--port", port, "--s88-modules", "12"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev.State().settings[3], 12);
}

TEST_F(NetworkTool, ReadsAndWritesThroughPyserialsServerWithTheSpeedChangeFollowing) {
  Require(Kind::PyserialServer);
  NetworkPeer server(Kind::PyserialServer, dev.SlavePath());
  const std::string port = server.Url();

  auto run = Run(server, {"read", "--port", port});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Hardware version: 1.2"), std::string::npos) << run.out;

  run = Run(server, {"write", "--port", port, "--baud-rate", "38400", "--s88-start", "17"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dev.State().baudRate, 38400u);

  run = Run(server, {"read", "--port", port, "--baud", "38400"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("S88 start address: 17"), std::string::npos) << run.out;
}

TEST_F(NetworkTool, AnUnreachablePortFailsTheCommand) {
  const std::string port = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
  const auto run = RunToolWith({"read", "--port", port});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Unable to open com port on " + port), std::string::npos) << run.err;
}

TEST_F(NetworkTool, AServerKilledDuringAReadFailsItAsAnUnpluggedAdapter) {
  for (const Kind kind : {Kind::Ser2netRaw, Kind::Ser2netTelnet}) {
    Require(kind);
    NetworkPeer server(kind, dev.SlavePath());
    const std::string path = "\\\\.\\" + server.Url();
    HANDLE port = winapi::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
    HANDLE event = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    COMMTIMEOUTS none{0, 0, 0, 0, 0};  // the device is silent: only the kill ends the read
    ASSERT_TRUE(winapi::SetCommTimeouts(port, &none));
    std::uint8_t buffer[16];
    DWORD done = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ASSERT_FALSE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
    ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    server.Kill();
    ASSERT_EQ(winapi::WaitForSingleObject(event, 10000), WAIT_OBJECT_0) << "the read hangs";
    EXPECT_FALSE(winapi::GetOverlappedResult(port, &overlapped, &done, FALSE));
    EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(winapi::CloseHandle(port));
    winapi::CloseHandle(event);
    EXPECT_TRUE(dev.WaitPortOpen(false, kLimit));
  }
}

}  // namespace
}  // namespace configurator::testing
