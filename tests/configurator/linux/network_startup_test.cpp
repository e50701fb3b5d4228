// The start-up probe, the command line's port commands and network ports in the port map.
#include "configurator/form_test_support.h"
#include "configurator/tool_test_support.h"
#include "device/pty_device.h"
#include "winapi/linux/test_listener.h"

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace configurator::testing {
namespace {

namespace fs = std::filesystem;

// Points one COM name of the test's port map elsewhere for the test's duration.
class MapEntry {
 public:
  MapEntry(const std::string& com, const std::string& target)
      : link_(fs::path(std::getenv("PZ_PORT_MAP_DIR")) / com) {
    saved_ = fs::read_symlink(link_);
    fs::remove(link_);
    fs::create_symlink(target, link_);
  }
  ~MapEntry() {
    fs::remove(link_);
    fs::create_symlink(saved_, link_);
  }

 private:
  fs::path link_;
  fs::path saved_;
};

class NetworkStartup : public FormTest {};

TEST_F(NetworkStartup, ANetworkPortInThePortMapIsListedWithoutConnecting) {
  winapi_test::Listener server;
  const auto expected = WithMachinePorts({"COM9"});
  MapEntry entry("COM9", server.Url("rfc2217"));
  Create();
  EXPECT_EQ(form->cbPort.Items(), expected);
  EXPECT_FALSE(server.HasConnection()) << "the probe connected";
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(NetworkStartup, PortsListsANetworkEntryAsANetworkPortWithoutConnecting) {
  winapi_test::Listener server;
  MapEntry entry("COM9", server.Url("rfc2217"));
  auto run = RunToolWith({"ports"});
  EXPECT_NE(run.out.find("COM9: " + server.Url("rfc2217") + ": network port (not probed)"),
            std::string::npos)
      << run.out;
  run = RunToolWith({"ports", "--json"});
  EXPECT_NE(run.out.find("\"state\": \"network\""), std::string::npos) << run.out;
  EXPECT_FALSE(server.HasConnection()) << "listing connected";
}

TEST_F(NetworkStartup, DetectGoesOnPastAnUnreachableNetworkPort) {
  std::string unreachable;
  {
    winapi_test::Listener gone;
    unreachable = gone.Url("tcp");
  }
  device::PtyDevice dev;
  MapEntry first("COM2", unreachable);
  MapEntry second("COM3", dev.SlavePath());
  const auto run = RunToolWith({"detect"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("COM3 at 19200 baud: PZ-RQ480"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Unable to open com port on COM2"), std::string::npos) << run.err;
}

// A telnet server that agrees and answers every speed change with 9600 baud.
class SpeedRefuser {
 public:
  SpeedRefuser() {
    thread_ = std::thread([this] {
      const int client = ::accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      const std::uint8_t agree[] = {0xFF, 0xFD, 0x2C};
      ::send(client, agree, sizeof agree, MSG_NOSIGNAL);
      const std::string request("\xFF\xFA\x2C\x01", 4);
      const std::string answer("\xFF\xFA\x2C\x65\x00\x00\x25\x80\xFF\xF0", 10);
      std::string received;
      char chunk[512];
      for (ssize_t got; (got = ::recv(client, chunk, sizeof chunk, 0)) > 0;) {
        received.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t at; (at = received.find(request)) != std::string::npos;) {
          received.erase(0, at + request.size());
          ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
      }
      ::close(client);
    });
  }
  ~SpeedRefuser() {
    listener_.Shut();
    thread_.join();
  }
  std::string Url() const { return listener_.Url("rfc2217"); }

 private:
  winapi_test::Listener listener_;
  std::thread thread_;
};

TEST_F(NetworkStartup, RefusedLineSettingsAreReportedInTheJson) {
  SpeedRefuser server;
  const auto run = RunToolWith({"read", "--port", server.Url(), "--json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"error\": \"COM Port Error: SetCommState function failed"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("(system error 87)"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("(system error 87)"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace configurator::testing
