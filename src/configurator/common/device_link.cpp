// The byte link to the device: requests sent byte by byte with a running XOR, replies
// collected from the receive event, frames ended by silence on Timer1.
#include "configurator/form_pzrq480.h"
#include "configurator/port_open_error.h"

#include <algorithm>
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
  try {
    ComPort->Write(&b, 1);
  } catch (const comport::EComPortExt& error) {
    RethrowWithGoneReason(*ComPort, error);
  }
  LastRequest.push_back(b);
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
  ++TicksSinceRequest;
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

bool TFormPZRQ480::AwaitReply() {
  const auto deadline = std::chrono::steady_clock::now() + kReplyBackstop;
  RestartSilence();
  TicksSinceRequest = 0;
  FrameDone = 0;
  for (;;) {
    app_.ProcessMessages();
    CheckAbandoned();
    if (FrameDone != 0) return true;
    if (TicksSinceRequest >= kReplyLimitTicks) break;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    app_.WaitForMessage(std::min(kWaitSlice, left));
  }
  // Whatever the line sends next begins a frame of its own.
  RxPos = 0;
  return false;
}

void TFormPZRQ480::SendRequest(std::initializer_list<std::uint8_t> bytes) {
  TxSum = 0;
  RxSinceRequest = 0;
  LastRequest.clear();
  for (std::uint8_t b : bytes) SendByte(b);
  SendByte(TxSum);
}

ReplyResult TFormPZRQ480::Exchange(std::initializer_list<std::uint8_t> bytes) {
  SendRequest(bytes);
  const bool silenceCame = AwaitReply();
  // A frame that began before this request is the previous reply, not an answer.
  if (RxSinceRequest == 0) return {ReplyStatus::NoReply, 0};
  if (!silenceCame) return {ReplyStatus::NoSilence, 0};
  if (RxSinceRequest > static_cast<std::int32_t>(kRxBufSize)) return {ReplyStatus::LongFrame, 0};
  // The request's own bytes coming back XOR to zero too. No reply starts with them: a
  // version reply starts with 02, and no setting holds FF.
  if (!LastRequest.empty() && RxCount >= static_cast<std::int32_t>(LastRequest.size()) &&
      std::equal(LastRequest.begin(), LastRequest.end(), RxBuf.begin())) {
    return {ReplyStatus::Echo, 0};
  }
  if (!CheckFrame()) return {ReplyStatus::BadChecksum, 0};
  // A shorter frame can XOR to zero too (noise, a stray 00); its entry 2 would be its own
  // checksum or a byte left over from an earlier reply.
  if (RxCount < kMinReplySize) return {ReplyStatus::ShortFrame, 0};
  return {ReplyStatus::Good, RxBuf[2]};
}

const char* ReplyStatusText(ReplyStatus status) {
  switch (status) {
    case ReplyStatus::NoReply:
      return "no reply";
    case ReplyStatus::BadChecksum:
      return "bad checksum";
    case ReplyStatus::ShortFrame:
      return "short reply";
    case ReplyStatus::NoSilence:
      return "no reply: the line does not fall silent (noise or another sender on it)";
    case ReplyStatus::LongFrame:
      return "no reply: a frame longer than any reply";
    case ReplyStatus::Echo:
      return "the line echoes what is sent: a loopback or no device";
    case ReplyStatus::NotAsked:
      return "not read";
    case ReplyStatus::Good:
      break;
  }
  return "ok";
}

void TFormPZRQ480::CheckAbandoned() {
  if (abandon_ && !finishingWrites_) throw Abandoned{};
}

}  // namespace configurator
