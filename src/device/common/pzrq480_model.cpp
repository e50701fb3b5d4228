#include "device/pzrq480_model.h"

#include <algorithm>
#include <utility>

namespace device {

namespace {

constexpr std::array<std::uint32_t, 4> kRates{19200, 38400, 57600, 115200};

struct ValueRange {
  Setting setting;
  std::uint8_t low;
  std::uint8_t high;
};

constexpr std::array<ValueRange, 5> kRanges{{
    {Setting::XpressNetAddress, 1, 31},
    {Setting::BaudRateCode, 1, 4},
    {Setting::S88Start, 1, 192},
    {Setting::S88Modules, 1, 126},
    {Setting::CommandStation, 0, 1},
}};

std::uint8_t Xor(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum ^= b;
  return sum;
}

std::vector<std::uint8_t> WithChecksum(std::vector<std::uint8_t> bytes) {
  bytes.push_back(Xor(bytes));
  return bytes;
}

// The length of a complete request from its first byte; 0 when the command is unknown.
std::size_t RequestLength(std::uint8_t first) {
  switch (first) {
    case kVersionQuery:
      return 2;
    case kSettingCommand:
      return 4;
    default:
      return 0;
  }
}

bool KnownSetting(std::uint8_t n) {
  return n >= 1 && n <= kRanges.size();
}

}  // namespace

std::optional<std::uint32_t> RateOfCode(std::uint8_t code) {
  if (code < 1 || code > kRates.size()) return std::nullopt;
  return kRates[code - 1];
}

std::optional<std::uint8_t> CodeOfRate(std::uint32_t rate) {
  const auto it = std::find(kRates.begin(), kRates.end(), rate);
  if (it == kRates.end()) return std::nullopt;
  return static_cast<std::uint8_t>(it - kRates.begin() + 1);
}

bool SettingValueValid(Setting n, std::uint8_t value) {
  for (const ValueRange& range : kRanges) {
    if (range.setting == n) return value >= range.low && value <= range.high;
  }
  return false;
}

const char* KindName(RequestKind kind) {
  switch (kind) {
    case RequestKind::VersionQuery:
      return "version query";
    case RequestKind::ReadSetting:
      return "read setting";
    case RequestKind::WriteSetting:
      return "write setting";
    case RequestKind::BadChecksum:
      return "bad checksum, ignored";
    case RequestKind::UnknownCommand:
      return "unknown command, ignored";
    case RequestKind::ValueRefused:
      return "value out of range, not stored";
    case RequestKind::Incomplete:
      return "incomplete request, ignored";
    case RequestKind::WrongRate:
      return "other baud rate, ignored";
    case RequestKind::CutOff:
      return "device cut off, ignored";
  }
  return "?";
}

Pzrq480Model::Pzrq480Model(DeviceState state, std::uint32_t noiseSeed)
    : state_(state), noise_(noiseSeed) {}

Exchange Pzrq480Model::HandleFrame(std::span<const std::uint8_t> frame, std::uint32_t lineRate) {
  if (lineRate != state_.baudRate) {
    return Exchange{{frame.begin(), frame.end()}, lineRate, RequestKind::WrongRate, {}, {}};
  }
  return Answer(frame, lineRate);
}

bool Pzrq480Model::CutOff() const {
  return fault_.fault == Fault::StopAfter && stored_ >= fault_.stopAfter;
}

std::uint8_t Pzrq480Model::ChatterByte() {
  return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(noise_));
}

Exchange Pzrq480Model::Answer(std::span<const std::uint8_t> frame, std::uint32_t lineRate) {
  Exchange exchange{{frame.begin(), frame.end()}, lineRate, RequestKind::UnknownCommand, {}, {}};
  if (CutOff()) {
    exchange.kind = RequestKind::CutOff;
    return exchange;
  }
  if (frame.empty() || RequestLength(frame[0]) != frame.size()) return exchange;
  const bool setting = frame[0] == kSettingCommand;
  if (setting && !KnownSetting(frame[1])) return exchange;
  if (Xor(frame) != 0) {
    exchange.kind = RequestKind::BadChecksum;
    return exchange;
  }
  if (!setting) {
    exchange.kind = RequestKind::VersionQuery;
    exchange.reply =
        Deliver(WithChecksum({kVersionReply, state_.hardwareVersion, state_.softwareVersion}));
    return exchange;
  }
  const auto n = static_cast<Setting>(frame[1]);
  const std::uint8_t value = frame[2];
  if (value == kReadMarker) {
    exchange.kind = RequestKind::ReadSetting;
    exchange.reply = Deliver(WithChecksum({kSettingCommand, frame[1], state_.Get(n)}));
    return exchange;
  }
  if (!SettingValueValid(n, value)) {
    exchange.kind = RequestKind::ValueRefused;
    return exchange;
  }
  exchange.kind = RequestKind::WriteSetting;
  state_.Set(n, value);
  ++stored_;
  if (n == Setting::BaudRateCode) {
    state_.baudRate = *RateOfCode(value);
    exchange.rateSwitched = state_.baudRate;
  }
  return exchange;
}

std::vector<ReplyBurst> Pzrq480Model::Deliver(std::vector<std::uint8_t> reply) {
  switch (fault_.fault) {
    case Fault::None:
    case Fault::Chatter:
    case Fault::StopAfter:
      break;
    case Fault::Silent:
    case Fault::Echo:
      return {};
    case Fault::BadChecksum:
      reply.back() ^= 0xFF;
      break;
    case Fault::SplitReply: {
      const auto half = static_cast<std::ptrdiff_t>(reply.size() / 2);
      return {ReplyBurst{kReplyTime, {reply.begin(), reply.begin() + half}},
              ReplyBurst{fault_.gap, {reply.begin() + half, reply.end()}}};
    }
    case Fault::LateReply:
      return {ReplyBurst{fault_.gap, std::move(reply)}};
    case Fault::Noise: {
      std::uniform_int_distribution<int> count(1, 3);
      std::uniform_int_distribution<int> byte(0, 255);
      auto noise = [&] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count(noise_)));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(noise_));
        return bytes;
      };
      std::vector<std::uint8_t> noisy = noise();
      noisy.insert(noisy.end(), reply.begin(), reply.end());
      const std::vector<std::uint8_t> after = noise();
      noisy.insert(noisy.end(), after.begin(), after.end());
      reply = std::move(noisy);
      break;
    }
    case Fault::LongReply:
      if (reply.size() < fault_.longLength) reply.resize(fault_.longLength, 0);
      break;
  }
  return {ReplyBurst{kReplyTime, std::move(reply)}};
}

std::vector<Exchange> Pzrq480Model::Receive(std::span<const std::uint8_t> bytes,
                                            std::uint32_t lineRate, Clock::time_point at) {
  std::vector<Exchange> done;
  if (auto expired = Expire(at)) done.push_back(std::move(*expired));
  const bool garbage = lineRate != state_.baudRate;
  for (std::uint8_t b : bytes) {
    if (partial_.empty()) partialRate_ = lineRate;
    partial_.push_back(b);
    partialGarbled_ = partialGarbled_ || garbage || lineRate != partialRate_;
    lastByte_ = at;
    const std::size_t length = RequestLength(partial_.front());
    if ((!partialGarbled_ && length != 0 && partial_.size() == length) ||
        partial_.size() >= kMaxFrame) {
      done.push_back(FinishPartial());
    }
  }
  return done;
}

std::chrono::milliseconds Pzrq480Model::PartialGap() const {
  const bool request = !partialGarbled_ && RequestLength(partial_.front()) != 0;
  return request ? kRequestTimeout : kFrameGap;
}

std::optional<Clock::time_point> Pzrq480Model::FrameDeadline() const {
  if (partial_.empty()) return std::nullopt;
  return lastByte_ + PartialGap();
}

std::optional<Exchange> Pzrq480Model::Expire(Clock::time_point now) {
  const auto deadline = FrameDeadline();
  if (!deadline || now < *deadline) return std::nullopt;
  return FinishPartial();
}

void Pzrq480Model::DiscardPartial() {
  partial_.clear();
  partialGarbled_ = false;
}

Exchange Pzrq480Model::FinishPartial() {
  std::vector<std::uint8_t> frame = std::exchange(partial_, {});
  const bool garbled = std::exchange(partialGarbled_, false);
  if (garbled) return Exchange{std::move(frame), partialRate_, RequestKind::WrongRate, {}, {}};
  const std::size_t length = RequestLength(frame.front());
  if (length != 0 && frame.size() < length) {
    return Exchange{std::move(frame), partialRate_, RequestKind::Incomplete, {}, {}};
  }
  return Answer(frame, partialRate_);
}

}  // namespace device
