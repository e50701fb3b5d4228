#include "device/pty_device.h"

#include "../device_port.h"

#include <gtest/gtest.h>

namespace device {
namespace {

using namespace device_test;
using Bytes = std::vector<std::uint8_t>;

DeviceState SamplePtyState() {
  DeviceState state;
  state.settings = {7, 1, 33, 2, 0};
  return state;
}

class PtyDeviceTest : public testing::Test {
 protected:
  std::size_t Count(LogKind kind, RequestKind request = RequestKind::UnknownCommand) const {
    std::size_t count = 0;
    for (const FrameRecord& record : device.Frames()) {
      count += record.kind == kind && (kind != LogKind::Received || record.request == request);
    }
    return count;
  }

  PtyDevice device{SamplePtyState()};
};

TEST_F(PtyDeviceTest, AnswersThroughTheSlaveLikeASerialDevice) {
  DevicePort port(device.SlavePath(), 19200);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Ask(kVersionRequest), (Bytes{0x02, 0x12, 0x07, 0x17}));
  for (std::uint8_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(port.Ask(ReadRequest(n)), WithChecksum({0xF2, n, SamplePtyState().settings[n - 1]}));
  }
  EXPECT_TRUE(device.PortOpen());
}

TEST_F(PtyDeviceTest, ACutOffDeviceTakesItsTerminalAway) {
  device.SetFault(FaultConfig{Fault::StopAfter, std::chrono::milliseconds(100), 16, 2});
  DevicePort port(device.SlavePath(), 19200);
  port.Send(WriteRequest(1, 9));
  port.Send(WriteRequest(3, 70));
  EXPECT_TRUE(WaitFor([&] { return port.WriteError(0xF0) == ERROR_DEVICE_NOT_CONNECTED; }));
  EXPECT_EQ(device.State().settings, (std::array<std::uint8_t, 5>{9, 1, 70, 2, 0}));
  EXPECT_FALSE(device.PortOpen());
}

TEST_F(PtyDeviceTest, LearnsThePortsRateFromTheMasterSide) {
  DevicePort port(device.SlavePath(), 38400);
  ASSERT_TRUE(WaitFor([&] { return device.LineRate() == 38400; }));
  port.Send(kVersionRequest);
  ASSERT_TRUE(WaitFor([&] { return Count(LogKind::Received, RequestKind::WrongRate) == 1; }));
  port.SetRate(19200);
  ASSERT_TRUE(WaitFor([&] { return device.LineRate() == 19200; }));
  EXPECT_EQ(port.Ask(ReadRequest(1)), WithChecksum({0xF2, 1, 7}));
}

TEST_F(PtyDeviceTest, LearnsARateChangeWithoutAnyDataFollowing) {
  DevicePort port(device.SlavePath(), 57600);
  EXPECT_TRUE(WaitFor([&] { return device.LineRate() == 57600; }));
  port.SetRate(115200);
  EXPECT_TRUE(WaitFor([&] { return device.LineRate() == 115200; }));
}

TEST_F(PtyDeviceTest, SwitchesRateAfterABaudRateWrite) {
  DevicePort port(device.SlavePath(), 19200);
  port.Send(WriteRequest(2, 4));
  ASSERT_TRUE(WaitFor([&] { return device.State().baudRate == 115200; }));
  port.SetRate(115200);
  EXPECT_EQ(port.Ask(ReadRequest(2)), WithChecksum({0xF2, 2, 4}));
}

TEST_F(PtyDeviceTest, SeesThePortCloseAndKeepsServingWhenItIsOpenedAgain) {
  {
    DevicePort port(device.SlavePath(), 19200);
    ASSERT_TRUE(device.WaitPortOpen(true, kLongWait));
    port.Send(WriteRequest(4, 9));
    ASSERT_TRUE(WaitFor([&] { return device.State().Get(Setting::S88Modules) == 9; }));
  }
  ASSERT_TRUE(device.WaitPortOpen(false, kLongWait));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    DevicePort port(device.SlavePath(), 19200);
    ASSERT_TRUE(device.WaitPortOpen(true, kLongWait));
    EXPECT_EQ(port.Ask(ReadRequest(4)), WithChecksum({0xF2, 4, 9}));
    port.Close();
    ASSERT_TRUE(device.WaitPortOpen(false, kLongWait));
  }
  EXPECT_EQ(Count(LogKind::PortOpened), 4u);
  EXPECT_EQ(Count(LogKind::PortClosed), 4u);
}

TEST_F(PtyDeviceTest, PassesEveryByteValueUnchanged) {
  // Values that a terminal in cooked mode would turn into something else.
  DevicePort port(device.SlavePath(), 19200);
  for (std::uint8_t value : {0x0A, 0x0D, 0x11, 0x13, 0x03, 0x04, 0x7F}) {
    SCOPED_TRACE(int(value));
    port.Send(WriteRequest(3, value));
    EXPECT_EQ(port.Ask(ReadRequest(3)), WithChecksum({0xF2, 3, value}));
  }
}

TEST_F(PtyDeviceTest, EachFrameIsLoggedWithItsRate) {
  DevicePort port(device.SlavePath(), 19200);
  port.Ask(kVersionRequest);
  ASSERT_TRUE(WaitFor([&] { return Count(LogKind::Sent) == 1; }));
  const auto frames = device.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, LogKind::PortOpened);
  EXPECT_EQ(frames[1].bytes, kVersionRequest);
  EXPECT_EQ(frames[1].lineRate, 19200u);
  EXPECT_EQ(frames[2].bytes, (Bytes{0x02, 0x12, 0x07, 0x17}));
  EXPECT_LE(frames[1].time, frames[2].time);
}

TEST(PtyDeviceLifetime, EndingTheDeviceHangsUpAnOpenPort) {
  auto device = std::make_unique<PtyDevice>();
  DevicePort port(device->SlavePath(), 19200);
  ASSERT_TRUE(device->WaitPortOpen(true, kLongWait));
  device.reset();
  // The port sees the device gone: reads fail instead of waiting for bytes.
  EXPECT_TRUE(WaitFor([&] { return port.ReadError() == ERROR_DEVICE_NOT_CONNECTED; }));
}

}  // namespace
}  // namespace device
