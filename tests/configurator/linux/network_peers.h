// Serial servers on 127.0.0.1 in front of a pseudo-terminal, as users run them: Debian's
// ser2net (telnet with the COM-PORT-OPTION, or raw TCP) and pyserial's example server.
#pragma once

#include "apps/pzrq480-sim/child_process.h"
#include "winapi/linux/test_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace configurator::testing {

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
inline std::uint16_t FreePort() {
  winapi_test::Listener probe;
  return probe.Port();
}

// Whether something listens on 127.0.0.1:`port`, from /proc/net/tcp (without connecting,
// which would make the server open its device).
inline bool Listening(std::uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;  // 0A: listening
  }
  return false;
}

class NetworkPeer {
 public:
  enum class Kind { Ser2netTelnet, Ser2netRaw, PyserialServer };

  // Whether the peer's program is installed; `missing` names it when not.
  static bool Available(Kind kind, std::string& missing) {
    const char* program = kind == Kind::PyserialServer ? kPyserialServer : kSer2net;
    missing = program;
    return std::filesystem::exists(program) &&
           (kind != Kind::PyserialServer || std::filesystem::exists(kPython));
  }

  // Serves the terminal `ptyPath` on a free port; the device's side runs at `baud` for raw
  // TCP, whose settings come from the server's own configuration.
  NetworkPeer(Kind kind, const std::string& ptyPath, unsigned baud = 19200)
      : kind_(kind), port_(FreePort()) {
    const std::string portText = std::to_string(port_);
    if (kind == Kind::PyserialServer) {
      process_ = std::make_unique<sim_test::ChildProcess>(
          std::vector<std::string>{kPython, "-c", kPyserialOnPty, "-p", portText, ptyPath});
    } else {
      const std::string accepter = kind == Kind::Ser2netTelnet ? "telnet(rfc2217),tcp" : "tcp";
      // '#' stands for a line end in -Y.
      const std::string yaml = "connection: &pz#  accepter: " + accepter + ",127.0.0.1," +
                               portText + "#  connector: serialdev," + ptyPath + "," +
                               std::to_string(baud) + "n81,local";
      process_ = std::make_unique<sim_test::ChildProcess>(
          std::vector<std::string>{kSer2net, "-n", "-u", "-Y", yaml});
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Listening(port_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(Listening(port_)) << "the server does not listen: " << process_->ErrorOutput();
  }

  // Whether the server closes its device when the client goes (pyserial's keeps it open).
  bool ReleasesTheDevice() const { return kind_ != Kind::PyserialServer; }

  std::string Url() const {
    return (kind_ == Kind::Ser2netRaw ? "tcp://127.0.0.1:" : "rfc2217://127.0.0.1:") +
           std::to_string(port_);
  }

  // The server dies at once, as a crashed or powered-off bridge would.
  void Kill() {
    process_->Signal(SIGKILL);
    process_->Wait();
  }

 private:
  static constexpr const char* kSer2net = "/usr/sbin/ser2net";
  static constexpr const char* kPython = "/usr/bin/python3";
  static constexpr const char* kPyserialServer =
      "/usr/share/doc/python3-serial/examples/rfc2217_server.py";
  // pyserial's server as it stands, with two changes: it listens on 127.0.0.1 only (not
  // on every address), and the modem lines, which a pty lacks and on which the server
  // fails, read as off and setting them does nothing.
  static constexpr const char* kPyserialOnPty =
      "import runpy, socket\n"
      "bind = socket.socket.bind\n"
      "socket.socket.bind = lambda self, address: bind(self, ('127.0.0.1', address[1]))\n"
      "import serial.serialposix as posix\n"
      "posix.Serial._update_rts_state = lambda self: None\n"
      "posix.Serial._update_dtr_state = lambda self: None\n"
      "for line in ('cts', 'dsr', 'ri', 'cd'):\n"
      "    setattr(posix.Serial, line, property(lambda self: False))\n"
      "runpy.run_path('/usr/share/doc/python3-serial/examples/rfc2217_server.py',"
      " run_name='__main__')\n";

  Kind kind_;
  std::uint16_t port_;
  std::unique_ptr<sim_test::ChildProcess> process_;
};

}  // namespace configurator::testing
