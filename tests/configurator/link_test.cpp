#include "form_test_support.h"

#include "winapi/virtual_line.h"

#include <array>

namespace configurator::testing {
namespace {

// The form's port open on a bare line; Timer1 stopped so that the test gives the ticks.
class Link : public FormTest {
 protected:
  void SetUp() override {
    Create();
    form->Timer1.SetEnabled(false);
    form->ComPort->SetPort(line->Name());
    form->ComPort->Open();
  }

  void Deliver(std::initializer_list<std::uint8_t> bytes) {
    const std::int32_t before = form->RxSinceRequest;
    line->Inject(bytes);
    ASSERT_TRUE(app.RunUntil(
        [&] { return form->RxSinceRequest == before + static_cast<std::int32_t>(bytes.size()); },
        kLimit));
  }

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) form->Timer1Timer();
  }

  std::shared_ptr<winapi::VirtualLine> line = winapi::VirtualLine::Create("VL_config_link");
};

TEST_F(Link, AGoodReplyEndsTheWaitAfterSilence) {
  form->Timer1.SetEnabled(true);
  line->Inject({0x02, 0x12, 0x07, 0x17});
  form->AwaitReply();
  EXPECT_EQ(form->FrameDone, 1);
  EXPECT_EQ(form->RxCount, 4);
  EXPECT_EQ(form->RxPos, 0);
  EXPECT_TRUE(form->CheckFrame());
  EXPECT_EQ(
      (std::array<std::uint8_t, 4>{form->RxBuf[0], form->RxBuf[1], form->RxBuf[2], form->RxBuf[3]}),
      (std::array<std::uint8_t, 4>{0x02, 0x12, 0x07, 0x17}));
}

TEST_F(Link, AnyFlippedBitFailsTheCheck) {
  const std::array<std::uint8_t, 4> good{0x02, 0x12, 0x07, 0x17};
  for (std::size_t byte = 0; byte < good.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::array<std::uint8_t, 4> frame = good;
      frame[byte] ^= static_cast<std::uint8_t>(1u << bit);
      Deliver({frame[0], frame[1], frame[2], frame[3]});
      Ticks(6);
      EXPECT_EQ(form->RxCount, 4);
      EXPECT_FALSE(form->CheckFrame()) << "byte " << byte << " bit " << bit;
    }
  }
  Deliver({good[0], good[1], good[2], good[3]});
  Ticks(6);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, SixSilentTicksEndAFrameFiveDoNot) {
  Deliver({0x02, 0x12});
  Ticks(5);
  EXPECT_EQ(form->FrameDone, 0);
  EXPECT_EQ(form->Timer1.Tag, 5);
  Deliver({0x07, 0x17});  // under 60 ms later: the same frame
  EXPECT_EQ(form->Timer1.Tag, 0);
  Ticks(6);
  EXPECT_EQ(form->FrameDone, 1);
  EXPECT_EQ(form->RxCount, 4);
  EXPECT_EQ(form->RxPos, 0);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, ABurstAfterTheSilenceStartsANewFrame) {
  Deliver({0x11, 0x22, 0x33});
  Ticks(6);
  Deliver({0x44, 0x44});
  Ticks(6);
  EXPECT_EQ(form->RxCount, 2);
  EXPECT_EQ(form->RxBuf[0], 0x44);
  EXPECT_EQ(form->RxBuf[1], 0x44);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, QuickBurstsJoinAndSeparateRepliesSplitOnTheRealTimer) {
  form->Timer1.SetEnabled(true);
  const std::array<std::uint8_t, 4> reply{0x02, 0x12, 0x07, 0x17};
  line->InjectInBursts(reply, 2, 0ms);
  form->AwaitReply();
  EXPECT_EQ(form->RxCount, 4);

  // Two bursts far apart: the wait ends after the first; the second is a frame of its own.
  line->Inject({0x02, 0x12});
  form->AwaitReply();
  EXPECT_EQ(form->RxCount, 2);
  line->Inject({0x07, 0x17});
  form->AwaitReply();
  EXPECT_EQ(form->RxCount, 2);
  EXPECT_EQ(form->RxBuf[0], 0x07);
  EXPECT_EQ(form->RxBuf[1], 0x17);
}

// Without the mend, Timer1 ticks for ever: 100 wake-ups a second on an idle line.
TEST_F(Link, TheTimerSleepsOnceAFrameHasEndedAndEveryCounterResetWakesIt) {
  Deliver({0x02, 0x12});
  Ticks(5);
  EXPECT_FALSE(form->Timer1.Asleep());
  Ticks(1);
  EXPECT_EQ(form->FrameDone, 1);
  EXPECT_TRUE(form->Timer1.Asleep());

  Deliver({0x07});  // a received byte
  EXPECT_FALSE(form->Timer1.Asleep());
  EXPECT_EQ(form->Timer1.Tag, 0);
  Ticks(6);
  ASSERT_TRUE(form->Timer1.Asleep());

  form->RestartSilence();  // the start of a wait or of a read
  EXPECT_FALSE(form->Timer1.Asleep());
  EXPECT_EQ(form->Timer1.Tag, 0);
}

// On the real timer: an idle line costs no ticks, and a reply that arrives while the
// timer sleeps still ends at the 6th tick after its last byte, counted 1 to 6.
TEST_F(Link, AReplyToASleepingTimerEndsAtTheSixthTickAsBefore) {
  std::vector<std::pair<std::intptr_t, std::int32_t>> ticks;  // counter, FrameDone
  const auto handler = form->Timer1.OnTimer;
  form->Timer1.OnTimer = [&] {
    handler();
    ticks.emplace_back(form->Timer1.Tag, form->FrameDone);
  };
  form->Timer1.SetEnabled(true);
  ASSERT_TRUE(app.RunUntil([&] { return form->Timer1.Asleep(); }, kLimit));
  const auto fired = app.TicksFired(form->Timer1);
  int sideTicks = 0;
  SideTimer side(app, [&] { ++sideTicks; });
  ASSERT_TRUE(app.RunUntil([&] { return sideTicks >= 10; }, kLimit));
  EXPECT_EQ(app.TicksFired(form->Timer1), fired);

  ticks.clear();
  form->FrameDone = 0;
  line->Inject({0x02, 0x12, 0x07, 0x17});
  ASSERT_TRUE(app.RunUntil([&] { return form->FrameDone == 1 && form->Timer1.Asleep(); }, kLimit));
  EXPECT_EQ(ticks, (std::vector<std::pair<std::intptr_t, std::int32_t>>{
                       {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 1}}));
  EXPECT_EQ(form->RxCount, 4);
  EXPECT_EQ(form->RxPos, 0);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, CheckFrameOverNoBytesPasses) {
  EXPECT_EQ(form->RxCount, 0);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, SendByteFoldsTheChecksumAndWritesOneByte) {
  form->TxSum = 0;
  form->SendByte(0xF2);
  form->SendByte(0x01);
  form->SendByte(0xFF);
  EXPECT_EQ(form->TxSum, 0x0C);  // F2 xor 01 xor FF
  form->SendByte(form->TxSum);
  EXPECT_EQ(form->TxSum, 0);
  EXPECT_EQ(line->ReadSent(4, kLimit), (std::vector<std::uint8_t>{0xF2, 0x01, 0xFF, 0x0C}));
}

TEST_F(Link, SendByteOnAClosedPortChangesNothing) {
  form->ComPort->Close();
  form->TxSum = 0x5A;
  form->SendByte(0x33);
  EXPECT_EQ(form->TxSum, 0x5A);
  EXPECT_TRUE(line->TakeSent().empty());
}

// Without the bound, the 12th byte would be written past the buffer.
TEST_F(Link, AFrameLongerThanTheBufferKeepsItsFirstElevenBytes) {
  Deliver({0x02, 0x12, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17, 0xAA, 0xBB, 0xCC});
  EXPECT_EQ(form->RxPos, 11);
  EXPECT_EQ(form->RxCount, 11);
  Ticks(6);
  EXPECT_EQ(form->RxCount, 11);
  EXPECT_EQ(form->RxPos, 0);
  EXPECT_EQ(form->RxBuf[10], 0x17);
  EXPECT_TRUE(form->CheckFrame());
}

TEST_F(Link, TracingSeesBytesBothWays) {
  std::vector<std::string> trace;
  form->OnTrace = [&](bool sent, std::uint8_t b) {
    trace.push_back((sent ? "tx " : "rx ") + std::to_string(b));
  };
  form->SendByte(0xF0);
  Deliver({0x02});
  EXPECT_EQ(trace, (std::vector<std::string>{"tx 240", "rx 2"}));
}

}  // namespace
}  // namespace configurator::testing
