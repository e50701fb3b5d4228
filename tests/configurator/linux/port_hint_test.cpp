// The tooltip of a port in the list: the device its COM name leads to and, for a USB
// adapter, who made it and what it is, from a recorded sysfs tree.
#include "../../../src/winapi/ports/linux/terminal_system_paths.h"
#include "configurator/port_hint.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace configurator {
namespace {

namespace fs = std::filesystem;

class PortHintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(Map());
    previousMap_ = std::getenv("PZ_PORT_MAP_DIR") ? std::getenv("PZ_PORT_MAP_DIR") : "";
    ::setenv("PZ_PORT_MAP_DIR", Map().c_str(), 1);
    winapi::TerminalSystemPaths paths;
    paths.sysRoot = root_ / "sys";
    paths.serialLinksRoot = root_ / "serial";
    winapi::SetTerminalSystemPaths(paths);
  }
  void TearDown() override {
    winapi::SetTerminalSystemPaths(winapi::TerminalSystemPaths{});
    if (previousMap_.empty()) {
      ::unsetenv("PZ_PORT_MAP_DIR");
    } else {
      ::setenv("PZ_PORT_MAP_DIR", previousMap_.c_str(), 1);
    }
    fs::remove_all(root_);
  }

  fs::path Map() const { return root_ / "ports"; }
  fs::path Device(const std::string& name) const { return root_ / "dev" / name; }

  // A device node stand-in, linked as `com`; for an adapter, its tty entry sits under a
  // USB device folder that names the adapter.
  void AddPort(const std::string& com, const std::string& name, const std::string& manufacturer,
               const std::string& product) const {
    fs::create_directories(Device(name).parent_path());
    std::ofstream(Device(name)) << "";
    fs::create_symlink(Device(name), Map() / com);
    const fs::path usbDevice = root_ / "sys/devices/usb1/1-2";
    const fs::path tty = usbDevice / ("1-2:1.0/tty/" + name);
    fs::create_directories(tty);
    fs::create_symlink("../../../1-2:1.0", tty / "device");
    std::ofstream(tty / "dev") << "188:0\n";
    std::ofstream(usbDevice / "idVendor") << "0403\n";
    std::ofstream(usbDevice / "idProduct") << "6001\n";
    if (!manufacturer.empty()) std::ofstream(usbDevice / "manufacturer") << manufacturer << "\n";
    if (!product.empty()) std::ofstream(usbDevice / "product") << product << "\n";
    fs::create_directories(root_ / "sys/class/tty");
    fs::create_symlink(tty, root_ / "sys/class/tty" / name);
  }

  fs::path root_ = fs::temp_directory_path() / ("pz-port-hint-" + std::to_string(::getpid()));
  std::string previousMap_;
};

TEST_F(PortHintTest, AUsbAdapterShowsItsDeviceMakerAndProduct) {
  AddPort("COM5", "ttyUSB0", "FTDI", "FT232R USB UART");
  EXPECT_EQ(PortHint("COM5"), Device("ttyUSB0").string() + " (FTDI FT232R USB UART)");
}

TEST_F(PortHintTest, AnAdapterWithoutNamesShowsItsIds) {
  AddPort("COM6", "ttyUSB1", "", "");
  EXPECT_EQ(PortHint("COM6"), Device("ttyUSB1").string() + " (USB 0403:6001)");
}

TEST_F(PortHintTest, OtherDevicesShowTheirPathAlone) {
  fs::create_symlink("/nonexistent/ttyS7", Map() / "COM7");
  EXPECT_EQ(PortHint("COM7"), "/nonexistent/ttyS7");
  EXPECT_EQ(PortHint("not a port"), "");
}

}  // namespace
}  // namespace configurator
