// Pinning a COM name to a device in the port map: by-id first, by-path with a word of
// warning, anything else as given; what is no terminal is refused.
#include "terminal_test_pty.h"
#include "terminal_test_system.h"

#include "winapi/port_map.h"
#include "winapi/port_pinning.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace winapi {
namespace {

namespace fs = std::filesystem;
using testing::PrivateTerminalSystem;
using testing::PtyPeer;

class PortPinningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto paths = CurrentTerminalSystemPaths();
    paths.serialLinksRoot = system_.Root() / "serial";
    SetTerminalSystemPaths(paths);
    fs::create_directories(ById());
    fs::create_directories(ByPath());
    ::setenv("PZ_PORT_MAP_DIR", Map().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PZ_PORT_MAP_DIR"); }

  fs::path Map() const { return system_.Root() / "ports"; }
  fs::path ById() const { return system_.Root() / "serial" / "by-id"; }
  fs::path ByPath() const { return system_.Root() / "serial" / "by-path"; }

  // Where the map sends a COM name now.
  std::string Resolved(const std::string& name) const {
    return ResolveComPortPathIn(name, Map()).value_or("");
  }

  PrivateTerminalSystem system_;
  PtyPeer adapter_;
};

TEST_F(PortPinningTest, AnAdapterWithASerialNumberIsPinnedByItsId) {
  const fs::path byId = ById() / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  fs::create_symlink(adapter_.SlavePath(), byId);
  fs::create_symlink(adapter_.SlavePath(), ByPath() / "pci-0000:00:14.0-usb-0:2:1.0-port0");
  const PortPin pin = MapComPort("com3", adapter_.SlavePath());
  EXPECT_EQ(pin.link, (Map() / "COM3").string());
  EXPECT_EQ(pin.target, byId.string());
  EXPECT_EQ(pin.note, "");
  EXPECT_EQ(Resolved("COM3"), byId.string());

  // A second map replaces the first.
  PtyPeer other;
  MapComPort("COM3", other.SlavePath());
  EXPECT_EQ(Resolved("COM3"), other.SlavePath());
}

TEST_F(PortPinningTest, WithoutAnIdTheSocketsPathIsUsedAndTheUserIsTold) {
  const fs::path byPath = ByPath() / "pci-0000:00:14.0-usb-0:2:1.0-port0";
  fs::create_symlink(adapter_.SlavePath(), byPath);
  const PortPin pin = MapComPort("COM4", adapter_.SlavePath());
  EXPECT_EQ(pin.target, byPath.string());
  EXPECT_NE(pin.note.find("no /dev/serial/by-id name"), std::string::npos) << pin.note;
  EXPECT_NE(pin.note.find("same socket"), std::string::npos) << pin.note;
  EXPECT_EQ(Resolved("COM4"), byPath.string());
}

TEST_F(PortPinningTest, WhatIsNoTerminalIsRefusedWithTheReason) {
  auto refusal = [&](const std::string& name, const std::string& device) -> std::string {
    try {
      MapComPort(name, device);
    } catch (const PortMapError& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal("COM5", "/dev/null"), "/dev/null is not a serial device: it is no terminal");
  const fs::path file = system_.Root() / "file";
  std::ofstream(file) << "x";
  EXPECT_EQ(refusal("COM5", file.string()),
            file.string() + " is not a serial device: it is no device node at all");
  EXPECT_NE(refusal("COM5", "/dev/ttyUSB-none").find("/dev/ttyUSB-none: No such file"),
            std::string::npos);
  EXPECT_EQ(refusal("LPT1", adapter_.SlavePath()), "LPT1 is no COM name: give COM1 to COM255");
  EXPECT_FALSE(fs::exists(Map() / "COM5"));
}

TEST_F(PortPinningTest, UnmapRemovesTheLinkAndTheDefaultIsBack) {
  MapComPort("COM6", adapter_.SlavePath());
  const PortPin pin = UnmapComPort("COM6");
  EXPECT_EQ(pin.target, adapter_.SlavePath());
  EXPECT_EQ(pin.note, "COM6 is /dev/ttyUSB1 again, as the default table has it");
  EXPECT_EQ(Resolved("COM6"), "/dev/ttyUSB1");
  EXPECT_THROW(UnmapComPort("COM6"), PortMapError);
}

}  // namespace
}  // namespace winapi
