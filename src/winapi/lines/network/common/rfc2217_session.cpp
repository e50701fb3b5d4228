#include "lines/network/common/rfc2217_session.h"

#include <algorithm>
#include <string_view>

namespace winapi::driver {
namespace {

using namespace telnet;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPortOption = 44;

// Client command codes; the server answers a command with its code + 100.
constexpr std::uint8_t kSignature = 0;
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6;
constexpr std::uint8_t kNotifyModemState = 7;
constexpr std::uint8_t kFlowControlSuspend = 8;
constexpr std::uint8_t kFlowControlResume = 9;
constexpr std::uint8_t kSetLineStateMask = 10;
constexpr std::uint8_t kSetModemStateMask = 11;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

constexpr std::string_view kOwnSignature = "pzrq480 serial port";

// How often one option's state changes are answered.
constexpr int kMaxAnswersPerOption = 8;

// SET-CONTROL values.
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kXonXoffFlowControl = 2;
constexpr std::uint8_t kHardwareFlowControl = 3;
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kRtsOff = 12;

// NOTIFY-LINESTATE bits.
constexpr std::uint8_t kLineOverrun = 0x02;
constexpr std::uint8_t kLineParity = 0x04;
constexpr std::uint8_t kLineFraming = 0x08;
constexpr std::uint8_t kLineBreak = 0x10;

// Options we agree to have on either side.
bool Accepted(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

std::uint8_t StopSizeOf(BYTE stopBits) {
  switch (stopBits) {
    case ONE5STOPBITS:
      return 3;
    case TWOSTOPBITS:
      return 2;
    default:
      return 1;
  }
}

}  // namespace

Rfc2217Session::Rfc2217Session()
    : decoder_(
          {.negotiation = [this](std::uint8_t verb,
                                 std::uint8_t option) { OnNegotiation(verb, option, *reply_); },
           .subnegotiation =
               [this](std::span<const std::uint8_t> payload) {
                 if (payload.size() >= 2 && payload[0] == kComPortOption) {
                   OnComPortAnswer(payload.subspan(1));
                 }
               }}) {
  // Asked for in the greeting.
  options_[kBinary].local = options_[kBinary].remote = true;
  options_[kComPortOption].local = true;
}

std::vector<std::uint8_t> Rfc2217Session::Greeting() const {
  std::vector<std::uint8_t> wire;
  for (const auto& part : {Negotiation(kWill, kBinary), Negotiation(kDo, kBinary),
                           Negotiation(kWill, kComPortOption)}) {
    wire.insert(wire.end(), part.begin(), part.end());
  }
  return wire;
}

void Rfc2217Session::AppendMasks(std::vector<std::uint8_t>& wire) const {
  const std::uint8_t lineMask = kLineOverrun | kLineParity | kLineFraming | kLineBreak;
  // The lines and their changes: some servers report only when a change bit is set.
  const std::uint8_t modemMask = 0xFF;
  for (const auto& part :
       {Subnegotiation(kComPortOption, std::array{kSetLineStateMask, lineMask}),
        Subnegotiation(kComPortOption, std::array{kSetModemStateMask, modemMask})}) {
    wire.insert(wire.end(), part.begin(), part.end());
  }
}

void Rfc2217Session::Feed(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
                          std::vector<std::uint8_t>& reply) {
  reply_ = &reply;
  decoder_.Feed(wire, data);
  reply_ = nullptr;
}

// Answers only a request that changes the option's state (or refuses once), so two
// sides that both follow this can never loop; a peer that keeps turning one option on and
// off is answered a few times and then no more, so its requests cannot pile up answers.
void Rfc2217Session::OnNegotiation(std::uint8_t verb, std::uint8_t option,
                                   std::vector<std::uint8_t>& reply) {
  OptionState& state = options_[option];
  auto answer = [&reply, &state, option](std::uint8_t answerVerb) {
    if (state.answers >= kMaxAnswersPerOption) return;
    ++state.answers;
    const auto bytes = Negotiation(answerVerb, option);
    reply.insert(reply.end(), bytes.begin(), bytes.end());
  };
  switch (verb) {
    case kWill:
      if (Accepted(option)) {
        if (!state.remote) answer(kDo);
        state.remote = true;
      } else if (!state.refusedRemote) {
        state.refusedRemote = true;
        answer(kDont);
      }
      break;
    case kWont:
      if (state.remote) answer(kDont);
      state.remote = false;
      break;
    case kDo:
      if (Accepted(option)) {
        if (!state.local) answer(kWill);
        state.local = true;
        if (option == kComPortOption) comPort_ = Agreement::Yes;
      } else if (!state.refusedLocal) {
        state.refusedLocal = true;
        answer(kWont);
      }
      break;
    case kDont:
      if (option == kComPortOption) comPort_ = Agreement::No;
      if (state.local) answer(kWont);
      state.local = false;
      break;
    default:
      break;
  }
}

void Rfc2217Session::OnComPortAnswer(std::span<const std::uint8_t> payload) {
  if (payload[0] < kServerOffset) return;  // a server's request: nothing we serve
  const std::uint8_t code = static_cast<std::uint8_t>(payload[0] - kServerOffset);
  const auto value = payload.subspan(1);
  switch (code) {
    case kSignature:
      // An empty one asks for ours; a server's own is only informative.
      if (value.empty() && reply_) {
        std::vector<std::uint8_t> answer{kSignature};
        answer.insert(answer.end(), kOwnSignature.begin(), kOwnSignature.end());
        const auto bytes = Subnegotiation(kComPortOption, answer);
        reply_->insert(reply_->end(), bytes.begin(), bytes.end());
      }
      break;
    case kFlowControlSuspend:
      suspended_ = true;
      break;
    case kFlowControlResume:
      suspended_ = false;
      break;
    case kSetBaudRate:
      if (value.size() >= 4 && speedPending_) {
        const std::uint32_t speed = (std::uint32_t{value[0]} << 24) |
                                    (std::uint32_t{value[1]} << 16) |
                                    (std::uint32_t{value[2]} << 8) | value[3];
        if (speed != speedAsked_) {
          // A late answer to a request we gave up on is not this request's answer.
          const auto late = std::find(abandonedSpeeds_.begin(), abandonedSpeeds_.end(), speed);
          if (late != abandonedSpeeds_.end()) {
            abandonedSpeeds_.erase(late);
            break;
          }
          refusedSpeed_ = speed;
          speed_.reset();  // not in effect: send it again next time
        }
        speedPending_ = false;
      }
      break;
    case kSetDataSize:
    case kSetParity:
    case kSetStopSize:
    case kSetControl:
      if (pending_[code] > 0) {
        --pending_[code];
        const std::uint8_t asked = asked_[code].front();
        asked_[code].pop_front();
        if (!value.empty() && value[0] != asked) OnSettingRefused(code, asked, value[0]);
      }
      break;
    case kNotifyLineState:
      if (!value.empty()) {
        if (value[0] & kLineOverrun) lineErrors_ |= CE_OVERRUN;
        if (value[0] & kLineParity) lineErrors_ |= CE_RXPARITY;
        if (value[0] & kLineFraming) lineErrors_ |= CE_FRAME;
        if (value[0] & kLineBreak) break_ = true;
      }
      break;
    case kNotifyModemState:
      if (!value.empty()) {
        modem_ = value[0] & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        // The change bits sit four places below their lines' bits (RI's: a ring ended).
        modemChanges_ |= static_cast<DWORD>(value[0] & 0x0F) << 4;
      }
      break;
    default:
      break;
  }
}

void Rfc2217Session::Send(std::uint8_t code, std::span<const std::uint8_t> value,
                          std::vector<std::uint8_t>& wire) {
  std::vector<std::uint8_t> payload{code};
  payload.insert(payload.end(), value.begin(), value.end());
  const auto bytes = Subnegotiation(kComPortOption, payload);
  wire.insert(wire.end(), bytes.begin(), bytes.end());
  if (code >= kSetDataSize && code <= kSetControl && !unanswered_[code] && !value.empty()) {
    ++pending_[code];
    asked_[code].push_back(value[0]);
  }
}

DWORD Rfc2217Session::AppendSpeed(const DCB& dcb, std::vector<std::uint8_t>& wire) {
  if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE ||
      dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    return ERROR_INVALID_PARAMETER;
  }
  if (speed_ == dcb.BaudRate) return ERROR_SUCCESS;
  const std::uint32_t rate = dcb.BaudRate;
  const std::array<std::uint8_t, 4> value{
      static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
      static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
  Send(kSetBaudRate, value, wire);
  speed_ = rate;
  speedAsked_ = rate;
  speedPending_ = true;
  refusedSpeed_.reset();
  return ERROR_SUCCESS;
}

void Rfc2217Session::AppendFraming(const DCB& dcb, std::vector<std::uint8_t>& wire) {
  const bool hardwareFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  const std::uint8_t flow = hardwareFlow              ? kHardwareFlowControl
                            : (dcb.fOutX || dcb.fInX) ? kXonXoffFlowControl
                                                      : kNoFlowControl;
  const std::uint8_t dtr = dcb.fDtrControl == DTR_CONTROL_DISABLE ? kDtrOff : kDtrOn;
  const std::uint8_t rts = dcb.fRtsControl == RTS_CONTROL_DISABLE ? kRtsOff : kRtsOn;
  const std::array<std::pair<std::uint8_t, std::uint8_t>, 3> framing{{
      {kSetDataSize, dcb.ByteSize},
      {kSetParity, static_cast<std::uint8_t>(dcb.Parity + 1)},
      {kSetStopSize, StopSizeOf(dcb.StopBits)},
  }};
  for (const auto& [code, value] : framing) {
    if (sent_[code] == value) continue;
    Send(code, std::span(&value, 1), wire);
    sent_[code] = value;
  }
  // RTS belongs to the flow control while it does the handshake.
  for (auto [last, value] : {std::pair{&flow_, flow}, std::pair{&dtr_, dtr},
                             std::pair{&rts_, hardwareFlow ? std::uint8_t{0} : rts}}) {
    if (value == 0 || *last == value) continue;
    Send(kSetControl, std::span(&value, 1), wire);
    *last = value;
  }
}

void Rfc2217Session::AppendPurge(bool receive, bool transmit,
                                 std::vector<std::uint8_t>& wire) const {
  const std::uint8_t which = (receive ? 1 : 0) | (transmit ? 2 : 0);
  if (which == 0) return;
  const auto bytes = Subnegotiation(kComPortOption, std::array{kPurgeData, which});
  wire.insert(wire.end(), bytes.begin(), bytes.end());
}

bool Rfc2217Session::OthersPending() const {
  for (const int count : pending_) {
    if (count > 0) return true;
  }
  return false;
}

void Rfc2217Session::GiveUpSpeed() {
  speedPending_ = false;
  speed_.reset();
  // Its answer may still come, and must not be taken for the next request's.
  if (abandonedSpeeds_.size() == kAbandonedSpeeds) abandonedSpeeds_.pop_front();
  abandonedSpeeds_.push_back(speedAsked_);
}

void Rfc2217Session::GiveUpOthers() {
  for (std::size_t code = 0; code < kCodes; ++code) {
    if (pending_[code] > 0) unanswered_[code] = true;
    pending_[code] = 0;
    asked_[code].clear();
  }
}

DWORD Rfc2217Session::TakeLineErrors() {
  const DWORD errors = lineErrors_;
  lineErrors_ = 0;
  return errors;
}

// The server keeps another value: it is not in effect, so the next settings send it again.
void Rfc2217Session::OnSettingRefused(std::uint8_t code, std::uint8_t asked,
                                      std::uint8_t answered) {
  if (!refusedSetting_) refusedSetting_ = RefusedSetting{code, asked, answered};
  if (code != kSetControl) {
    sent_[code].reset();
    return;
  }
  for (auto* last : {&flow_, &dtr_, &rts_}) {
    if (*last == asked) last->reset();
  }
}

std::optional<Rfc2217Session::RefusedSetting> Rfc2217Session::TakeRefusedSetting() {
  auto refused = refusedSetting_;
  refusedSetting_.reset();
  return refused;
}

DWORD Rfc2217Session::TakeModemChanges() {
  const DWORD changes = modemChanges_;
  modemChanges_ = 0;
  return changes;
}

bool Rfc2217Session::TakeBreak() {
  const bool seen = break_;
  break_ = false;
  return seen;
}

}  // namespace winapi::driver
