#include "common/device_session.h"

#include <gtest/gtest.h>

#include <vector>

namespace device {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

class DeviceSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    session.SetLineRate(19200);
    session.PortOpened(start);
  }

  DeviceSession session{DeviceState{}};
  const Clock::time_point start = Clock::now();
};

TEST_F(DeviceSessionTest, AReplyIsDueAfterTheReplyTimeAndLoggedWhenTaken) {
  session.Received(Bytes{0xF0, 0xF0}, start);
  ASSERT_EQ(session.NextDeadline(), start + kReplyTime);
  EXPECT_TRUE(session.TakeDue(start + kReplyTime - milliseconds(1)).empty());
  const auto due = session.TakeDue(start + kReplyTime);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0], (Bytes{0x02, 0x12, 0x07, 0x17}));
  EXPECT_FALSE(session.NextDeadline());

  const auto frames = session.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, LogKind::PortOpened);
  EXPECT_EQ(frames[1].kind, LogKind::Received);
  EXPECT_EQ(frames[1].bytes, (Bytes{0xF0, 0xF0}));
  EXPECT_EQ(frames[1].lineRate, 19200u);
  EXPECT_EQ(frames[1].request, RequestKind::VersionQuery);
  EXPECT_EQ(frames[2].kind, LogKind::Sent);
  EXPECT_EQ(frames[2].bytes, due[0]);
}

TEST_F(DeviceSessionTest, SplitBurstsComeOutInOrderAtTheirTimes) {
  session.SetFault(FaultConfig{Fault::SplitReply, milliseconds(70)});
  session.Received(Bytes{0xF0, 0xF0}, start);
  const auto first = session.TakeDue(start + kReplyTime);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(session.NextDeadline(), start + kReplyTime + milliseconds(70));
  EXPECT_TRUE(session.TakeDue(start + milliseconds(50)).empty());
  const auto second = session.TakeDue(start + milliseconds(200));
  ASSERT_EQ(second.size(), 1u);
  Bytes all = first[0];
  all.insert(all.end(), second[0].begin(), second[0].end());
  EXPECT_EQ(all, (Bytes{0x02, 0x12, 0x07, 0x17}));
}

TEST_F(DeviceSessionTest, AnEarlierReplyOvertakesALateOneOnlyByItsTime) {
  session.SetFault(FaultConfig{Fault::LateReply, milliseconds(100)});
  session.Received(Bytes{0xF0, 0xF0}, start);
  session.SetFault(FaultConfig{});
  session.Received(Bytes{0xF2, 0x01, 0xFF, 0x0C}, start + milliseconds(10));
  const auto due = session.TakeDue(start + milliseconds(500));
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0][0], 0xF2);
  EXPECT_EQ(due[1][0], 0x02);
}

TEST_F(DeviceSessionTest, APartialRequestExpiresThroughTakeDue) {
  session.Received(Bytes{0xF2}, start);
  EXPECT_EQ(session.NextDeadline(), start + kRequestTimeout);
  EXPECT_TRUE(session.TakeDue(start + kRequestTimeout).empty());
  EXPECT_FALSE(session.NextDeadline());
  const auto frames = session.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].request, RequestKind::Incomplete);
}

TEST_F(DeviceSessionTest, ClosingThePortDropsWhatWasStillToCome) {
  session.SetFault(FaultConfig{Fault::LateReply, milliseconds(100)});
  session.Received(Bytes{0xF0, 0xF0}, start);
  session.Received(Bytes{0xF2, 0x01}, start);
  session.PortClosed(start + milliseconds(1));
  EXPECT_FALSE(session.PortOpen());
  EXPECT_FALSE(session.NextDeadline());
  EXPECT_TRUE(session.TakeDue(start + milliseconds(500)).empty());
  EXPECT_EQ(session.Frames().back().kind, LogKind::PortClosed);
}

TEST_F(DeviceSessionTest, ObserverSeesEachRecordAsItIsMade) {
  std::vector<FrameRecord> seen;
  session.SetObserver([&](const FrameRecord& record) { seen.push_back(record); });
  session.Received(Bytes{0xF0, 0xF0}, start);
  session.TakeDue(start + kReplyTime);
  session.PortClosed(start + milliseconds(5));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, LogKind::Received);
  EXPECT_EQ(seen[1].kind, LogKind::Sent);
  EXPECT_EQ(seen[2].kind, LogKind::PortClosed);
}

TEST_F(DeviceSessionTest, StateAndRateFollowWrites) {
  session.Received(Bytes{0xF2, 0x02, 0x04, 0xF4}, start);
  EXPECT_EQ(session.State().baudRate, 115200u);
  EXPECT_EQ(session.State().Get(Setting::BaudRateCode), 4);
  // Still at 19200: the device no longer understands.
  session.Received(Bytes{0xF0, 0xF0}, start + milliseconds(1));
  EXPECT_TRUE(session.TakeDue(start + kRequestTimeout * 3).empty());
  EXPECT_EQ(session.Frames().back().request, RequestKind::WrongRate);
}

TEST_F(DeviceSessionTest, AnEchoingLineSendsEachByteBackAtOnce) {
  session.SetFault(FaultConfig{Fault::Echo});
  session.Received(Bytes{0xF2, 0x01}, start);
  session.Received(Bytes{0xFF, 0x0E}, start + milliseconds(1));
  const auto due = session.TakeDue(start + milliseconds(1));
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0], (Bytes{0xF2, 0x01}));
  EXPECT_EQ(due[1], (Bytes{0xFF, 0x0E}));
  EXPECT_FALSE(session.NextDeadline());
}

TEST_F(DeviceSessionTest, AChatteringLineSendsAByteEachIntervalWhileOpen) {
  session.SetFault(FaultConfig{Fault::Chatter});
  auto next = session.NextDeadline();
  ASSERT_TRUE(next);
  Clock::time_point at = *next;
  for (int i = 0; i < 5; ++i) {
    const auto due = session.TakeDue(at);
    ASSERT_EQ(due.size(), 1u) << i;
    EXPECT_EQ(due[0].size(), 1u);
    next = session.NextDeadline();
    ASSERT_TRUE(next);
    EXPECT_EQ(*next - at, kChatterInterval);
    at = *next;
  }
  // Replies still come, and the chatter stops with the port.
  session.Received(Bytes{0xF0, 0xF0}, at - milliseconds(1));
  EXPECT_EQ(session.TakeDue(at - milliseconds(1)), (std::vector<Bytes>{{0x02, 0x12, 0x07, 0x17}}));
  session.PortClosed(at);
  EXPECT_FALSE(session.NextDeadline());
}

TEST_F(DeviceSessionTest, StopAfterReportsTheCutOffOnceTheLastSettingIsStored) {
  session.SetFault(FaultConfig{Fault::StopAfter, milliseconds(100), 16, 1});
  EXPECT_FALSE(session.CutOff());
  session.Received(Bytes{0xF2, 0x01, 0x03, 0xF0}, start);
  EXPECT_TRUE(session.CutOff());
  EXPECT_EQ(session.State().Get(Setting::XpressNetAddress), 3);
}

TEST(FrameRecordText, DescribesEachKind) {
  const auto now = Clock::now();
  EXPECT_EQ(Describe(FrameRecord{
                now, LogKind::Received, {0xF2, 0x01, 0xFF, 0x0C}, 19200, RequestKind::ReadSetting}),
            "rx F2 01 FF 0C at 19200: read setting");
  EXPECT_EQ(Describe(FrameRecord{now, LogKind::Sent, {0x02, 0x12, 0x07, 0x17}, 19200, {}}),
            "tx 02 12 07 17");
  EXPECT_EQ(Describe(FrameRecord{now, LogKind::PortOpened, {}, 0, {}}), "port opened");
  EXPECT_EQ(Describe(FrameRecord{now, LogKind::PortClosed, {}, 0, {}}), "port closed");
}

}  // namespace
}  // namespace device
