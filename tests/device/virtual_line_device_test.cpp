#include "device/virtual_line_device.h"

#include "device_port.h"

#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace device {
namespace {

using namespace device_test;
using Bytes = std::vector<std::uint8_t>;

std::string UniqueName() {
  static std::atomic<int> next{1};
  return "VLDEV" + std::to_string(next++);
}

DeviceState SampleLineState() {
  DeviceState state;
  state.hardwareVersion = 0x21;
  state.softwareVersion = 12;
  state.settings = {3, 1, 65, 4, 1};
  return state;
}

class VirtualLineDeviceTest : public testing::Test {
 protected:
  std::size_t CountReceived(RequestKind kind) const {
    std::size_t count = 0;
    for (const FrameRecord& record : device.Frames()) {
      count += record.kind == LogKind::Received && record.request == kind;
    }
    return count;
  }

  const std::string name = UniqueName();
  VirtualLineDevice device{name, SampleLineState()};
};

TEST_F(VirtualLineDeviceTest, AnswersTheVersionQueryAndEachRead) {
  DevicePort port(name, 19200);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Ask(kVersionRequest), (Bytes{0x02, 0x21, 12, 0x02 ^ 0x21 ^ 12}));
  for (std::uint8_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(port.Ask(ReadRequest(n)), WithChecksum({0xF2, n, SampleLineState().settings[n - 1]}));
  }
}

TEST_F(VirtualLineDeviceTest, StoresWritesAndReadsThemBack) {
  DevicePort port(name, 19200);
  port.Send(WriteRequest(1, 17));
  port.Send(WriteRequest(3, 0x13));
  EXPECT_EQ(port.Ask(ReadRequest(1)), WithChecksum({0xF2, 1, 17}));
  EXPECT_EQ(port.Ask(ReadRequest(3)), WithChecksum({0xF2, 3, 0x13}));
  EXPECT_EQ(device.State().Get(Setting::XpressNetAddress), 17);
  EXPECT_EQ(device.State().Get(Setting::S88Start), 0x13);
}

TEST_F(VirtualLineDeviceTest, IgnoresRequestsAtAnotherRateAndAnswersAtItsOwn) {
  DevicePort port(name, 38400);
  port.Send(kVersionRequest);
  port.Send(WriteRequest(1, 9));
  ASSERT_TRUE(WaitFor([&] { return CountReceived(RequestKind::WrongRate) >= 1; }));
  port.SetRate(19200);
  // The first reply the port sees is that of the request at the right rate.
  EXPECT_EQ(port.Ask(ReadRequest(1)), WithChecksum({0xF2, 1, 3}));
  EXPECT_EQ(device.State(), SampleLineState());
}

TEST_F(VirtualLineDeviceTest, FollowsABaudRateWriteToTheNewRate) {
  DevicePort port(name, 19200);
  port.Send(WriteRequest(2, 3));
  ASSERT_TRUE(WaitFor([&] { return device.State().baudRate == 57600; }));
  port.Send(kVersionRequest);  // at 19200: garbage now
  ASSERT_TRUE(WaitFor([&] { return CountReceived(RequestKind::WrongRate) >= 1; }));
  port.SetRate(57600);
  EXPECT_EQ(port.Ask(ReadRequest(2)), WithChecksum({0xF2, 2, 3}));
}

TEST_F(VirtualLineDeviceTest, BadRequestsGetNoReply) {
  DevicePort port(name, 19200);
  port.Send({0xF2, 0x01, 0xFF, 0x00});          // bad checksum
  port.Send(WithChecksum({0xF2, 0x07, 0xFF}));  // no such setting
  // Only the good request that follows is answered.
  EXPECT_EQ(port.Ask(ReadRequest(4)), WithChecksum({0xF2, 4, 4}));
  EXPECT_EQ(CountReceived(RequestKind::BadChecksum), 1u);
  EXPECT_EQ(CountReceived(RequestKind::UnknownCommand), 1u);
}

TEST_F(VirtualLineDeviceTest, SplitReplyArrivesInTwoBursts) {
  device.SetFault(FaultConfig{Fault::SplitReply, std::chrono::milliseconds(30)});
  DevicePort port(name, 19200);
  EXPECT_EQ(port.Ask(ReadRequest(3)), WithChecksum({0xF2, 3, 65}));
  std::vector<Bytes> sent;
  for (const FrameRecord& record : device.Frames()) {
    if (record.kind == LogKind::Sent) sent.push_back(record.bytes);
  }
  EXPECT_EQ(sent, (std::vector<Bytes>{{0xF2, 3}, {65, 0xF2 ^ 3 ^ 65}}));
}

TEST_F(VirtualLineDeviceTest, LongReplyDeliversAllItsBytes) {
  device.SetFault(FaultConfig{Fault::LongReply, std::chrono::milliseconds(100), 20});
  DevicePort port(name, 19200);
  const Bytes reply = port.Ask(kVersionRequest, 20);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{0x02, 0x21, 12, 0x02 ^ 0x21 ^ 12}));
}

TEST_F(VirtualLineDeviceTest, KeepsServingAcrossCloseAndReopenAndLogsBoth) {
  {
    DevicePort port(name, 19200);
    port.Send(WriteRequest(5, 0));
    ASSERT_TRUE(WaitFor([&] { return device.State().Get(Setting::CommandStation) == 0; }));
  }
  ASSERT_TRUE(device.Line()->WaitOpen(false, kLongWait));
  DevicePort again(name, 19200);
  EXPECT_EQ(again.Ask(ReadRequest(5)), WithChecksum({0xF2, 5, 0}));
  std::vector<LogKind> events;
  for (const FrameRecord& record : device.Frames()) {
    if (record.kind == LogKind::PortOpened || record.kind == LogKind::PortClosed) {
      events.push_back(record.kind);
    }
  }
  EXPECT_EQ(events,
            (std::vector<LogKind>{LogKind::PortOpened, LogKind::PortClosed, LogKind::PortOpened}));
}

TEST_F(VirtualLineDeviceTest, AReplyDueAfterThePortClosedIsNotKeptForTheNextOpen) {
  device.SetFault(FaultConfig{Fault::LateReply, std::chrono::milliseconds(150)});
  {
    DevicePort port(name, 19200);
    port.Send(kVersionRequest);
    ASSERT_TRUE(WaitFor([&] { return CountReceived(RequestKind::VersionQuery) == 1; }));
  }
  ASSERT_TRUE(device.Line()->WaitOpen(false, kLongWait));
  device.SetFault(FaultConfig{});
  DevicePort again(name, 19200);
  // The first bytes the new opener gets are the answer to its own request.
  EXPECT_EQ(again.Ask(ReadRequest(1)), WithChecksum({0xF2, 1, 3}));
}

TEST_F(VirtualLineDeviceTest, LineFaultsEchoChatterAndCutOff) {
  {
    device.SetFault(FaultConfig{Fault::Echo});
    DevicePort port(name, 19200);
    EXPECT_EQ(port.Ask(ReadRequest(1)), ReadRequest(1));
    // Nothing follows the echo.
    EXPECT_TRUE(port.Receive(1, std::chrono::milliseconds(150)).empty());
  }
  ASSERT_TRUE(device.Line()->WaitOpen(false, kLongWait));
  {
    device.SetFault(FaultConfig{Fault::Chatter});
    DevicePort port(name, 19200);
    // Bytes come unasked.
    EXPECT_EQ(port.Receive(3).size(), 3u);
  }
  ASSERT_TRUE(device.Line()->WaitOpen(false, kLongWait));
  device.SetFault(FaultConfig{Fault::StopAfter, std::chrono::milliseconds(100), 16, 1});
  DevicePort port(name, 19200);
  port.Send(WriteRequest(1, 17));
  // The line goes away as an unplugged adapter does; the write was stored.
  EXPECT_TRUE(WaitFor([&] { return port.WriteError(0xF0) == ERROR_DEVICE_NOT_CONNECTED; }));
  EXPECT_EQ(device.State().Get(Setting::XpressNetAddress), 17);
}

TEST(VirtualLineDeviceName, ATakenNameIsRefused) {
  const std::string name = UniqueName();
  VirtualLineDevice first(name);
  EXPECT_THROW(VirtualLineDevice second(name), std::invalid_argument);
}

}  // namespace
}  // namespace device
