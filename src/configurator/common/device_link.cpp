// The byte link to the device: requests sent byte by byte with a running XOR, replies
// collected from the receive event, frames ended by silence on Timer1.
#include "configurator/form_pzrq480.h"

#include <chrono>

namespace configurator {

namespace {

// Longest single wait between two looks at the link; the timer normally wakes it sooner.
constexpr std::chrono::milliseconds kWaitSlice{100};

}  // namespace

void TFormPZRQ480::SendByte(std::uint8_t b) {
  if (!ComPort || !ComPort->Connected()) return;
  TxSum ^= b;
  if (OnTrace) OnTrace(true, b);
  ComPort->Write(&b, 1);
  app_.ProcessMessages();
  CheckAbandoned();
}

void TFormPZRQ480::PortRxChar(comport::TObject* /*Sender*/, std::int32_t Count) {
  for (std::int32_t i = 0; i < Count && ComPort; ++i) {
    std::uint8_t b = 0xFF;
    // A read the driver refused delivers nothing; its placeholder is no received byte.
    if (ComPort->Read(&b, 1) < 1) continue;
    if (OnTrace) OnTrace(false, b);
    // Bytes past the end of the buffer are dropped; the frame keeps its first ones.
    if (RxPos >= 0 && RxPos < static_cast<std::int32_t>(kRxBufSize)) {
      RxBuf[RxPos] = b;
      ++RxPos;
      RxCount = RxPos;
    }
    ++RxSinceRequest;
    RestartSilence();
  }
}

void TFormPZRQ480::Timer1Timer() {
  ++Timer1.Tag;
  if (Timer1.Tag > kSilenceTicks) {
    FrameDone = 1;
    RxPos = 0;
    // Further ticks would change nothing until the counter restarts: an idle window
    // is not woken 100 times a second.
    Timer1.Sleep();
  }
}

void TFormPZRQ480::RestartSilence() {
  Timer1.Tag = 0;
  Timer1.Wake();
}

bool TFormPZRQ480::CheckFrame() const {
  std::uint8_t sum = 0;
  const std::int32_t count = std::min<std::int32_t>(RxCount, kRxBufSize);
  for (std::int32_t i = 0; i < count; ++i) sum ^= RxBuf[i];
  return sum == 0;
}

void TFormPZRQ480::AwaitReply() {
  RestartSilence();
  FrameDone = 0;
  for (;;) {
    app_.ProcessMessages();
    CheckAbandoned();
    if (FrameDone != 0) return;
    app_.WaitForMessage(kWaitSlice);
  }
}

void TFormPZRQ480::SendRequest(std::initializer_list<std::uint8_t> bytes) {
  TxSum = 0;
  RxSinceRequest = 0;
  for (std::uint8_t b : bytes) SendByte(b);
  SendByte(TxSum);
}

ReplyResult TFormPZRQ480::Exchange(std::initializer_list<std::uint8_t> bytes) {
  SendRequest(bytes);
  AwaitReply();
  // A frame that began before this request is the previous reply, not an answer.
  if (RxSinceRequest == 0) return {ReplyStatus::NoReply, 0};
  if (!CheckFrame()) return {ReplyStatus::BadChecksum, 0};
  // A shorter frame can XOR to zero too (noise, a stray 00); its entry 2 would be its own
  // checksum or a byte left over from an earlier reply.
  if (RxCount < kMinReplySize) return {ReplyStatus::ShortFrame, 0};
  return {ReplyStatus::Good, RxBuf[2]};
}

void TFormPZRQ480::CheckAbandoned() {
  if (abandon_) throw Abandoned{};
}

}  // namespace configurator
