#include "device/pzrq480_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace device {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

Bytes WithChecksum(Bytes bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum ^= b;
  bytes.push_back(sum);
  return bytes;
}

std::uint8_t Xor(const Bytes& bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum ^= b;
  return sum;
}

// All reply bytes in order, whatever the bursts.
Bytes Joined(const Exchange& exchange) {
  Bytes all;
  for (const ReplyBurst& burst : exchange.reply) {
    all.insert(all.end(), burst.bytes.begin(), burst.bytes.end());
  }
  return all;
}

DeviceState SampleModelState() {
  DeviceState state;
  state.hardwareVersion = 0x12;
  state.softwareVersion = 7;
  state.settings = {3, 1, 65, 4, 1};
  return state;
}

TEST(Pzrq480Requests, VersionQueryAnswersVersionsWithChecksum) {
  Pzrq480Model model(SampleModelState());
  const Exchange exchange = model.HandleFrame(Bytes{0xF0, 0xF0}, 19200);
  EXPECT_EQ(exchange.kind, RequestKind::VersionQuery);
  ASSERT_EQ(exchange.reply.size(), 1u);
  EXPECT_EQ(exchange.reply[0].bytes, (Bytes{0x02, 0x12, 0x07, 0x17}));
  EXPECT_EQ(exchange.reply[0].delay, kReplyTime);
}

TEST(Pzrq480Requests, ReadOfEachSettingAnswersItsStoredValue) {
  DeviceState state = SampleModelState();
  state.settings = {31, 4, 192, 126, 1};
  Pzrq480Model model(state);
  for (std::uint8_t n = 1; n <= 5; ++n) {
    SCOPED_TRACE(int(n));
    const Exchange exchange = model.HandleFrame(WithChecksum({0xF2, n, 0xFF}), 19200);
    EXPECT_EQ(exchange.kind, RequestKind::ReadSetting);
    EXPECT_EQ(Joined(exchange), WithChecksum({0xF2, n, state.settings[n - 1]}));
  }
  // F2 01 FF is closed by F2 ^ 01 ^ FF = 0C.
  EXPECT_EQ(model.HandleFrame(Bytes{0xF2, 0x01, 0xFF, 0x0C}, 19200).kind, RequestKind::ReadSetting);
}

TEST(Pzrq480Requests, WriteStoresTheValueWithoutReply) {
  struct Case {
    std::uint8_t n;
    std::uint8_t value;
  };
  const Case cases[] = {{1, 3}, {1, 31}, {2, 4}, {3, 1}, {3, 192}, {4, 126}, {5, 0}, {5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.n) << "=" << int(c.value));
    Pzrq480Model model(SampleModelState());
    const Exchange exchange = model.HandleFrame(WithChecksum({0xF2, c.n, c.value}), 19200);
    EXPECT_EQ(exchange.kind, RequestKind::WriteSetting);
    EXPECT_TRUE(exchange.reply.empty());
    EXPECT_EQ(model.State().settings[c.n - 1], c.value);
    // Read back.
    EXPECT_EQ(Joined(model.HandleFrame(WithChecksum({0xF2, c.n, 0xFF}), model.State().baudRate)),
              WithChecksum({0xF2, c.n, c.value}));
  }
  // The write of address 3 goes on the wire as F2 01 03 F0.
  Pzrq480Model model(SampleModelState());
  EXPECT_EQ(model.HandleFrame(Bytes{0xF2, 0x01, 0x03, 0xF0}, 19200).kind,
            RequestKind::WriteSetting);
}

TEST(Pzrq480Requests, ValuesOutsideASettingsRangeAreNotStored) {
  struct Case {
    std::uint8_t n;
    std::uint8_t value;
  };
  const Case cases[] = {{1, 0},   {1, 32}, {2, 0},   {2, 5}, {3, 0},
                        {3, 193}, {4, 0},  {4, 127}, {5, 2}, {5, 0xFE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.n) << "=" << int(c.value));
    Pzrq480Model model(SampleModelState());
    const Exchange exchange = model.HandleFrame(WithChecksum({0xF2, c.n, c.value}), 19200);
    EXPECT_EQ(exchange.kind, RequestKind::ValueRefused);
    EXPECT_TRUE(exchange.reply.empty());
    EXPECT_EQ(model.State(), SampleModelState());
  }
}

TEST(Pzrq480Requests, BadChecksumsAndUnknownCommandsGetNoReplyAndChangeNothing) {
  struct Case {
    Bytes frame;
    RequestKind kind;
  };
  const Case cases[] = {
      {{0xF0, 0xF1}, RequestKind::BadChecksum},
      {{0xF2, 0x01, 0xFF, 0x0F}, RequestKind::BadChecksum},
      {{0xF2, 0x01, 0x05, 0x00}, RequestKind::BadChecksum},
      {WithChecksum({0xF2, 0x00, 0xFF}), RequestKind::UnknownCommand},
      {WithChecksum({0xF2, 0x06, 0xFF}), RequestKind::UnknownCommand},
      {WithChecksum({0xF2, 0x06, 0x01}), RequestKind::UnknownCommand},
      {WithChecksum({0xF1, 0x01, 0xFF}), RequestKind::UnknownCommand},
      {{0xF0}, RequestKind::UnknownCommand},
      {{0xF0, 0xF0, 0x00}, RequestKind::UnknownCommand},
      {WithChecksum({0xF2, 0x01, 0xFF, 0x00}), RequestKind::UnknownCommand},
      {{}, RequestKind::UnknownCommand},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.frame));
    Pzrq480Model model(SampleModelState());
    const Exchange exchange = model.HandleFrame(c.frame, 19200);
    EXPECT_EQ(exchange.kind, c.kind);
    EXPECT_TRUE(exchange.reply.empty());
    EXPECT_EQ(model.State(), SampleModelState());
  }
}

TEST(Pzrq480Rates, BytesAtAnotherRateAreIgnored) {
  Pzrq480Model model(SampleModelState());
  for (std::uint32_t rate : {0u, 9600u, 38400u, 57600u, 115200u}) {
    SCOPED_TRACE(rate);
    EXPECT_EQ(model.HandleFrame(Bytes{0xF0, 0xF0}, rate).kind, RequestKind::WrongRate);
    const Exchange write = model.HandleFrame(WithChecksum({0xF2, 1, 9}), rate);
    EXPECT_EQ(write.kind, RequestKind::WrongRate);
    EXPECT_TRUE(write.reply.empty());
  }
  EXPECT_EQ(model.State(), SampleModelState());
}

TEST(Pzrq480Rates, BaudRateWriteSwitchesTheDevicesRate) {
  Pzrq480Model model(SampleModelState());
  const Exchange write = model.HandleFrame(WithChecksum({0xF2, 2, 3}), 19200);
  EXPECT_EQ(write.kind, RequestKind::WriteSetting);
  EXPECT_EQ(write.rateSwitched, std::optional<std::uint32_t>(57600));
  EXPECT_EQ(model.State().baudRate, 57600u);
  EXPECT_EQ(model.HandleFrame(Bytes{0xF0, 0xF0}, 19200).kind, RequestKind::WrongRate);
  EXPECT_EQ(Joined(model.HandleFrame(WithChecksum({0xF2, 2, 0xFF}), 57600)),
            WithChecksum({0xF2, 2, 3}));
  // Writing other settings leaves the rate alone.
  EXPECT_FALSE(model.HandleFrame(WithChecksum({0xF2, 1, 5}), 57600).rateSwitched);
}

TEST(Pzrq480Rates, CodesAndRatesMapBothWays) {
  const std::uint32_t rates[] = {19200, 38400, 57600, 115200};
  for (std::uint8_t code = 1; code <= 4; ++code) {
    EXPECT_EQ(RateOfCode(code), rates[code - 1]);
    EXPECT_EQ(CodeOfRate(rates[code - 1]), code);
  }
  EXPECT_FALSE(RateOfCode(0));
  EXPECT_FALSE(RateOfCode(5));
  EXPECT_FALSE(CodeOfRate(9600));
}

// Byte-by-byte reception with times.
class Pzrq480Framing : public testing::Test {
 protected:
  std::vector<Exchange> Feed(const Bytes& bytes, milliseconds at, std::uint32_t rate = 19200) {
    return model.Receive(bytes, rate, start + at);
  }

  Pzrq480Model model{SampleModelState()};
  const Clock::time_point start = Clock::now();
};

TEST_F(Pzrq480Framing, AKnownRequestEndsWithItsLastByte) {
  const Bytes request = WithChecksum({0xF2, 4, 0xFF});
  for (std::size_t i = 0; i + 1 < request.size(); ++i) {
    EXPECT_TRUE(Feed({request[i]}, milliseconds(i)).empty());
    EXPECT_EQ(model.FrameDeadline(), start + milliseconds(i) + kRequestTimeout);
  }
  const auto done = Feed({request.back()}, milliseconds(3));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].kind, RequestKind::ReadSetting);
  EXPECT_EQ(done[0].request, request);
  EXPECT_FALSE(model.FrameDeadline());
}

TEST_F(Pzrq480Framing, TwoRequestsInOneReadAreTwoExchanges) {
  Bytes both{0xF0, 0xF0};
  const Bytes read = WithChecksum({0xF2, 1, 0xFF});
  both.insert(both.end(), read.begin(), read.end());
  const auto done = Feed(both, milliseconds(0));
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].kind, RequestKind::VersionQuery);
  EXPECT_EQ(done[1].kind, RequestKind::ReadSetting);
}

TEST_F(Pzrq480Framing, SilenceEndsAPartialRequest) {
  Feed({0xF2, 0x01}, milliseconds(0));
  EXPECT_FALSE(model.Expire(start + kRequestTimeout - milliseconds(1)));
  // The rest arrives too late: the first part is given up, the rest is a frame of its own.
  const auto done = Feed({0xFF, 0x0C}, kRequestTimeout);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].kind, RequestKind::Incomplete);
  EXPECT_EQ(done[0].request, (Bytes{0xF2, 0x01}));
  EXPECT_FALSE(model.Expire(start + kRequestTimeout + kFrameGap - milliseconds(1)));
  const auto rest = model.Expire(start + kRequestTimeout + kFrameGap);
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->kind, RequestKind::UnknownCommand);
  EXPECT_EQ(rest->request, (Bytes{0xFF, 0x0C}));
  // And the next whole request is answered.
  EXPECT_EQ(Feed({0xF0, 0xF0}, milliseconds(200)).at(0).kind, RequestKind::VersionQuery);
}

TEST_F(Pzrq480Framing, SlowBytesWithinTheGapStillMakeOneRequest) {
  const Bytes request = WithChecksum({0xF2, 3, 0xFF});
  const milliseconds step = kRequestTimeout - milliseconds(1);
  std::vector<Exchange> done;
  for (std::size_t i = 0; i < request.size(); ++i) done = Feed({request[i]}, step * int(i));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].kind, RequestKind::ReadSetting);
}

TEST_F(Pzrq480Framing, AnUnknownFirstByteSpoilsTheFrameUntilSilence) {
  // Noise directly before a request makes the whole burst one unknown frame.
  EXPECT_TRUE(Feed({0x00, 0xF0, 0xF0}, milliseconds(0)).empty());
  EXPECT_EQ(model.FrameDeadline(), start + kFrameGap);
  const auto spoiled = model.Expire(start + kFrameGap);
  ASSERT_TRUE(spoiled);
  EXPECT_EQ(spoiled->kind, RequestKind::UnknownCommand);
  EXPECT_TRUE(spoiled->reply.empty());
}

TEST_F(Pzrq480Framing, BytesAtAnotherRateSpoilTheFrameTheyFallInto) {
  EXPECT_TRUE(Feed({0xF2, 0x01}, milliseconds(0), 38400).empty());
  EXPECT_TRUE(Feed({0xFF, 0x0C}, milliseconds(1)).empty());
  // Garbage has no known length: the shorter silence ends it.
  EXPECT_EQ(model.FrameDeadline(), start + milliseconds(1) + kFrameGap);
  const auto garbage = model.Expire(start + milliseconds(1) + kFrameGap);
  ASSERT_TRUE(garbage);
  EXPECT_EQ(garbage->kind, RequestKind::WrongRate);
  EXPECT_EQ(garbage->request.size(), 4u);
  EXPECT_TRUE(garbage->reply.empty());
  // A whole write at the wrong rate is not stored either.
  Feed(WithChecksum({0xF2, 1, 9}), milliseconds(100), 57600);
  model.Expire(start + milliseconds(200));
  EXPECT_EQ(model.State(), SampleModelState());
}

TEST_F(Pzrq480Framing, AnEndlessStreamIsCutIntoBoundedFrames) {
  const Bytes stream(kMaxFrame * 3, 0x55);
  const auto done = Feed(stream, milliseconds(0));
  ASSERT_EQ(done.size(), 3u);
  for (const Exchange& exchange : done) EXPECT_EQ(exchange.request.size(), kMaxFrame);
}

TEST_F(Pzrq480Framing, DiscardDropsThePartialFrame) {
  Feed({0xF2, 0x02}, milliseconds(0));
  model.DiscardPartial();
  EXPECT_FALSE(model.FrameDeadline());
  EXPECT_EQ(Feed({0xF0, 0xF0}, milliseconds(1)).at(0).kind, RequestKind::VersionQuery);
}

// Fault modes: what a version query and a read get back.
class Pzrq480Faults : public testing::Test {
 protected:
  Exchange Query(Fault fault, milliseconds gap = milliseconds(100)) {
    model.SetFault(FaultConfig{fault, gap});
    return model.HandleFrame(WithChecksum({0xF2, 3, 0xFF}), 19200);
  }

  const Bytes normal = WithChecksum({0xF2, 3, 65});
  Pzrq480Model model{SampleModelState(), 42};
};

TEST_F(Pzrq480Faults, SilentAnswersNothingButStillStoresWrites) {
  EXPECT_TRUE(Query(Fault::Silent).reply.empty());
  model.HandleFrame(WithChecksum({0xF2, 1, 9}), 19200);
  EXPECT_EQ(model.State().Get(Setting::XpressNetAddress), 9);
}

TEST_F(Pzrq480Faults, BadChecksumSpoilsOnlyTheLastByte) {
  const Bytes reply = Joined(Query(Fault::BadChecksum));
  ASSERT_EQ(reply.size(), normal.size());
  EXPECT_TRUE(std::equal(normal.begin(), normal.end() - 1, reply.begin()));
  EXPECT_NE(Xor(reply), 0);
}

TEST_F(Pzrq480Faults, SplitReplyComesInTwoBurstsTheGapApart) {
  const Exchange exchange = Query(Fault::SplitReply, milliseconds(80));
  ASSERT_EQ(exchange.reply.size(), 2u);
  EXPECT_EQ(exchange.reply[0].delay, kReplyTime);
  EXPECT_EQ(exchange.reply[1].delay, milliseconds(80));
  EXPECT_FALSE(exchange.reply[0].bytes.empty());
  EXPECT_FALSE(exchange.reply[1].bytes.empty());
  EXPECT_EQ(Joined(exchange), normal);
}

TEST_F(Pzrq480Faults, LateReplyComesAfterTheGap) {
  const Exchange exchange = Query(Fault::LateReply, milliseconds(250));
  ASSERT_EQ(exchange.reply.size(), 1u);
  EXPECT_EQ(exchange.reply[0].delay, milliseconds(250));
  EXPECT_EQ(exchange.reply[0].bytes, normal);
}

TEST_F(Pzrq480Faults, NoiseSurroundsTheReplyInOneBurst) {
  for (int round = 0; round < 20; ++round) {
    const Exchange exchange = Query(Fault::Noise);
    ASSERT_EQ(exchange.reply.size(), 1u);
    const Bytes& bytes = exchange.reply[0].bytes;
    ASSERT_GE(bytes.size(), normal.size() + 2);
    ASSERT_LE(bytes.size(), normal.size() + 6);
    const auto at = std::search(bytes.begin(), bytes.end(), normal.begin(), normal.end());
    ASSERT_NE(at, bytes.end());
    const auto before = at - bytes.begin();
    const auto after = bytes.end() - (at + static_cast<std::ptrdiff_t>(normal.size()));
    EXPECT_GE(before, 1);
    EXPECT_LE(before, 3);
    EXPECT_GE(after, 1);
    EXPECT_LE(after, 3);
  }
}

TEST_F(Pzrq480Faults, NoiseIsTheSameForTheSameSeed) {
  Pzrq480Model other(SampleModelState(), 42);
  other.SetFault(FaultConfig{Fault::Noise});
  const Bytes mine = Joined(Query(Fault::Noise));
  EXPECT_EQ(Joined(other.HandleFrame(WithChecksum({0xF2, 3, 0xFF}), 19200)), mine);
}

TEST_F(Pzrq480Faults, LongReplyIsPaddedBeyondElevenBytesAndStillChecksOut) {
  model.SetFault(FaultConfig{Fault::LongReply, milliseconds(100), 16});
  const Exchange exchange = model.HandleFrame(Bytes{0xF0, 0xF0}, 19200);
  ASSERT_EQ(exchange.reply.size(), 1u);
  const Bytes& bytes = exchange.reply[0].bytes;
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0x02, 0x12, 0x07, 0x17}));
  // Whatever prefix of at least the real reply a receiver keeps, its XOR is 0.
  EXPECT_EQ(Xor(Bytes(bytes.begin(), bytes.begin() + 11)), 0);
  EXPECT_EQ(Xor(bytes), 0);
}

TEST_F(Pzrq480Faults, EchoGivesNoReplyOfItsOwnAndChatterLeavesRepliesAlone) {
  EXPECT_TRUE(Query(Fault::Echo).reply.empty());
  EXPECT_EQ(Joined(Query(Fault::Chatter)), normal);
}

TEST_F(Pzrq480Faults, StopAfterStoresNSettingsThenIgnoresEverything) {
  model.SetFault(FaultConfig{Fault::StopAfter, milliseconds(100), 16, 2});
  EXPECT_EQ(Joined(model.HandleFrame(WithChecksum({0xF2, 3, 0xFF}), 19200)), normal);
  EXPECT_EQ(model.HandleFrame(WithChecksum({0xF2, 1, 9}), 19200).kind, RequestKind::WriteSetting);
  // A refused value is not stored and does not count.
  model.HandleFrame(WithChecksum({0xF2, 1, 40}), 19200);
  EXPECT_FALSE(model.CutOff());
  model.HandleFrame(WithChecksum({0xF2, 3, 70}), 19200);
  EXPECT_TRUE(model.CutOff());
  const Exchange after = model.HandleFrame(WithChecksum({0xF2, 4, 5}), 19200);
  EXPECT_EQ(after.kind, RequestKind::CutOff);
  EXPECT_TRUE(model.HandleFrame(Bytes{0xF0, 0xF0}, 19200).reply.empty());
  EXPECT_EQ(model.State().Get(Setting::XpressNetAddress), 9);
  EXPECT_EQ(model.State().Get(Setting::S88Start), 70);
  EXPECT_EQ(model.State().Get(Setting::S88Modules), 4);
}

TEST_F(Pzrq480Faults, FaultsChangeNoReplyWhenThereIsNone) {
  for (Fault fault :
       {Fault::BadChecksum, Fault::SplitReply, Fault::LateReply, Fault::Noise, Fault::LongReply}) {
    model.SetFault(FaultConfig{fault});
    EXPECT_TRUE(model.HandleFrame(WithChecksum({0xF2, 4, 2}), 19200).reply.empty());
    EXPECT_TRUE(model.HandleFrame(Bytes{0xF0, 0xF1}, 19200).reply.empty());
  }
}

}  // namespace
}  // namespace device
