// What a port name stands for and whether it can be used: device, state with the reason
// and holder, and the USB adapter as a recorded sysfs tree describes it.
#include "ports/linux/terminal_lock_file.h"
#include "ports/linux/usb_adapter.h"
#include "terminal_test_pty.h"
#include "terminal_test_system.h"

#include "winapi/port_description.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace winapi {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::PrivateTerminalSystem;
using testing::PtyPeer;

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// A sysfs tree as the kernel lays it out for an FTDI adapter (usb-serial, ttyUSB), a
// board of the modem class (cdc-acm, ttyACM) and a built-in UART, with udev's links.
class RecordedSysfs {
 public:
  explicit RecordedSysfs(const fs::path& root) : root_(root) {
    const fs::path usb = Sys() / "devices/pci0000:00/0000:00:14.0/usb1";
    Adapter(usb / "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2C3");
    Tty("ttyUSB0", usb / "1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0", "../../../ttyUSB0");
    fs::create_directories(usb / "1-2/1-2:1.0/ttyUSB0");
    Adapter(usb / "1-3", "2341", "0043", "Arduino (www.arduino.cc)", "", "");
    Tty("ttyACM0", usb / "1-3/1-3:1.0/tty/ttyACM0", "../../../1-3:1.0");
    Tty("ttyS0", Sys() / "devices/platform/serial8250/tty/ttyS0", "../../../serial8250");
    const fs::path byId = Serial() / "by-id";
    fs::create_directories(byId);
    fs::create_symlink("../../dev/ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    fs::create_symlink("../../dev/ttyACM0", byId / "usb-Arduino_0043-if00");
    for (const char* device : {"ttyUSB0", "ttyACM0", "ttyS0"}) Write(Dev() / device, "");
  }

  fs::path Sys() const { return root_ / "sys"; }
  fs::path Serial() const { return root_ / "serial"; }
  fs::path Dev() const { return root_ / "dev"; }

  // A tty class entry whose "device" link leads to the device it belongs to.
  void Tty(const std::string& name, const fs::path& folder, const std::string& device) const {
    Write(folder / "dev", "188:0");
    fs::create_directories(folder.parent_path() / device);
    fs::create_symlink(device, folder / "device");
    fs::create_directories(Sys() / "class/tty");
    fs::create_symlink(folder, Sys() / "class/tty" / name);
  }

 private:
  static void Adapter(const fs::path& folder, const std::string& vendor, const std::string& product,
                      const std::string& manufacturer, const std::string& name,
                      const std::string& serial) {
    Write(folder / "idVendor", vendor);
    Write(folder / "idProduct", product);
    Write(folder / "manufacturer", manufacturer);
    if (!name.empty()) Write(folder / "product", name);
    if (!serial.empty()) Write(folder / "serial", serial);
  }

  fs::path root_;
};

class PortDescriptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sysfs_ = std::make_unique<RecordedSysfs>(system_.Root());
    auto paths = CurrentTerminalSystemPaths();
    paths.sysRoot = sysfs_->Sys();
    paths.serialLinksRoot = sysfs_->Serial();
    SetTerminalSystemPaths(paths);
    fs::create_directories(Map());
    ::setenv("PZ_PORT_MAP_DIR", Map().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PZ_PORT_MAP_DIR"); }

  fs::path Map() const { return system_.Root() / "ports"; }

  PrivateTerminalSystem system_;
  std::unique_ptr<RecordedSysfs> sysfs_;
};

TEST_F(PortDescriptionTest, UsbAdaptersAreDescribedFromSysfs) {
  const auto ftdi =
      UsbAdapterOf((sysfs_->Dev() / "ttyUSB0").string(), sysfs_->Sys(), sysfs_->Serial());
  ASSERT_TRUE(ftdi);
  EXPECT_EQ(ftdi->manufacturer, "FTDI");
  EXPECT_EQ(ftdi->product, "FT232R USB UART");
  EXPECT_EQ(ftdi->vendorId, "0403");
  EXPECT_EQ(ftdi->productId, "6001");
  EXPECT_EQ(ftdi->serialNumber, "A1B2C3");
  EXPECT_EQ(ftdi->byIdLink,
            (sysfs_->Serial() / "by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string());

  const auto board =
      UsbAdapterOf((sysfs_->Dev() / "ttyACM0").string(), sysfs_->Sys(), sysfs_->Serial());
  ASSERT_TRUE(board);
  EXPECT_EQ(board->vendorId + ":" + board->productId, "2341:0043");
  EXPECT_EQ(board->product, "");
  EXPECT_EQ(board->serialNumber, "");
  EXPECT_EQ(board->byIdLink, (sysfs_->Serial() / "by-id/usb-Arduino_0043-if00").string());

  // A built-in UART and an unknown device are no USB adapters.
  EXPECT_FALSE(UsbAdapterOf((sysfs_->Dev() / "ttyS0").string(), sysfs_->Sys(), sysfs_->Serial()));
  EXPECT_FALSE(UsbAdapterOf("/dev/ttyUSB9", sysfs_->Sys(), sysfs_->Serial()));
}

TEST_F(PortDescriptionTest, AUsablePortNamesItsDeviceAndAdapter) {
  PtyPeer pty;
  fs::create_symlink(pty.SlavePath(), Map() / "COM21");
  // The pty stands in for an adapter: its tty entry leads into the adapter's tree.
  const std::string tty = fs::path(pty.SlavePath()).filename().string();
  sysfs_->Tty(tty, sysfs_->Sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/x/tty" / tty,
              "../../../x");
  const PortDescription port = DescribePort("COM21");
  EXPECT_EQ(port.devicePath, pty.SlavePath());
  EXPECT_EQ(port.state, PortState::kUsable);
  EXPECT_EQ(StateText(port), "usable");
  EXPECT_EQ(ReasonText(port), "");
  ASSERT_TRUE(port.usb);
  EXPECT_EQ(port.usb->product, "FT232R USB UART");
  // The same facts without an open, as a tooltip asks for them.
  const auto adapter = UsbAdapterOfDevice(pty.SlavePath());
  ASSERT_TRUE(adapter);
  EXPECT_EQ(adapter->serialNumber, "A1B2C3");
  EXPECT_FALSE(UsbAdapterOfDevice((sysfs_->Dev() / "ttyS0").string()));

  // Every COM name of the map is listed, after COM1..COM20.
  const auto ports = DescribePorts();
  ASSERT_EQ(ports.size(), 21u);
  EXPECT_EQ(ports.front().name, "COM1");
  EXPECT_EQ(ports.back().name, "COM21");
  EXPECT_EQ(ports.back().state, PortState::kUsable);
}

TEST_F(PortDescriptionTest, EachRefusalSaysWhy) {
  PtyPeer held;
  PtyPeer locked;
  fs::create_symlink(held.SlavePath(), Map() / "COM21");
  fs::create_symlink(locked.SlavePath(), Map() / "COM22");
  fs::create_symlink("/dev/null", Map() / "COM23");
  fs::create_symlink("/nonexistent/ttyUSB9", Map() / "COM24");

  ChildProcess holder(held.SlavePath());
  ASSERT_TRUE(holder.Started());
  ChildProcess lockOwner;
  ASSERT_TRUE(lockOwner.Started());
  std::ofstream(system_.LockFolder() / LockFileName(locked.SlavePath())) << lockOwner.Pid() << "\n";

  PortDescription port = DescribePort("COM21");
  EXPECT_EQ(port.state, PortState::kInUse);
  EXPECT_EQ(port.holderPid, static_cast<unsigned long>(holder.Pid()));
  // The child is a fork of this test program.
  EXPECT_FALSE(port.holderProgram.empty());
  EXPECT_EQ(StateText(port),
            "in use by " + port.holderProgram + " (pid " + std::to_string(holder.Pid()) + ")");
  EXPECT_EQ(ReasonText(port), held.SlavePath() + ": " + StateText(port));

  port = DescribePort("COM22");
  EXPECT_EQ(port.state, PortState::kLocked);
  EXPECT_EQ(StateText(port), "locked by pid " + std::to_string(lockOwner.Pid()));

  port = DescribePort("COM23");
  EXPECT_EQ(port.state, PortState::kNotTerminal);
  EXPECT_EQ(ReasonText(port), "/dev/null: not a serial device");

  port = DescribePort("COM24");
  EXPECT_EQ(port.state, PortState::kMissing);
  EXPECT_EQ(ReasonText(port), "/nonexistent/ttyUSB9: no such device");

  // The console, by its number in the tty tree.
  system_.AddTty("console", "5:1", "ttyS0");
  std::ofstream(sysfs_->Sys() / "class/tty/ttyS0/dev") << "5:0\n";
  fs::create_symlink("/dev/tty", Map() / "COM25");
  port = DescribePort("COM25");
  EXPECT_EQ(port.state, PortState::kConsole);
  EXPECT_EQ(StateText(port), "the system console");
}

// After a failed CreateFileA the reason is that of the refusal just made on this thread.
TEST_F(PortDescriptionTest, AnOpenFailureHasItsReason) {
  PtyPeer held;
  fs::create_symlink(held.SlavePath(), Map() / "COM21");
  ChildProcess holder(held.SlavePath());
  ASSERT_TRUE(holder.Started());
  const HANDLE handle = CreateFileA("\\\\.\\COM21", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_EQ(handle, INVALID_HANDLE_VALUE);
  const DWORD error = GetLastError();
  EXPECT_EQ(OpenFailureReason("COM21", error), held.SlavePath() + ": in use by " +
                                                   DescribePort("COM21").holderProgram + " (pid " +
                                                   std::to_string(holder.Pid()) + ")");
  EXPECT_EQ(OpenFailureReason("COM40", ERROR_FILE_NOT_FOUND),
            "no such device: COM40 has no entry in the port map and no default device");
}

TEST(PortReasonTest, PermissionDeniedNamesTheGroupAndTheRemedy) {
  PortDescription port;
  port.name = "COM5";
  port.devicePath = "/dev/ttyUSB0";
  port.state = PortState::kPermissionDenied;
  port.group = "uucp";
  EXPECT_EQ(StateText(port), "permission denied (group uucp)");
  EXPECT_EQ(ReasonText(port),
            "/dev/ttyUSB0: permission denied: the device belongs to group uucp; join it with "
            "`sudo usermod -aG uucp $USER` and log in again");
}

}  // namespace
}  // namespace winapi
