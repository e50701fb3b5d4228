#include "lines/network/common/telnet_codec.h"

namespace winapi::driver::telnet {

void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& wire) {
  for (const std::uint8_t byte : data) {
    wire.push_back(byte);
    if (byte == kIac) wire.push_back(kIac);
  }
}

std::vector<std::uint8_t> Negotiation(std::uint8_t verb, std::uint8_t option) {
  return {kIac, verb, option};
}

std::vector<std::uint8_t> Subnegotiation(std::uint8_t option,
                                         std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> wire{kIac, kSb};
  AppendEscaped(std::span(&option, 1), wire);
  AppendEscaped(payload, wire);
  wire.push_back(kIac);
  wire.push_back(kSe);
  return wire;
}

void Decoder::Feed(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data) {
  for (const std::uint8_t byte : wire) {
    switch (state_) {
      case State::Data:
        if (byte == kIac) {
          state_ = State::Iac;
        } else {
          data.push_back(byte);
        }
        break;
      case State::Iac:
        if (byte == kIac) {
          data.push_back(kIac);
          state_ = State::Data;
        } else if (byte >= kWill) {
          verb_ = byte;
          state_ = State::Verb;
        } else if (byte == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, GA, ...: nothing to do
        }
        break;
      case State::Verb:
        state_ = State::Data;
        if (handlers_.negotiation) handlers_.negotiation(verb_, byte);
        break;
      case State::Sub:
        if (byte == kIac) {
          state_ = State::SubIac;
        } else if (sub_.size() < kMaxSubnegotiation) {
          sub_.push_back(byte);
        }
        break;
      case State::SubIac:
        state_ = State::Sub;
        if (byte == kIac) {
          if (sub_.size() < kMaxSubnegotiation) sub_.push_back(kIac);
        } else if (byte == kSe) {
          state_ = State::Data;
          if (!sub_.empty() && handlers_.subnegotiation) handlers_.subnegotiation(sub_);
        }
        // Only IAC SE ends a subnegotiation: any other command inside one is the peer's
        // mistake and dropped with its IAC, so the stream cannot lose step.
        break;
    }
  }
}

}  // namespace winapi::driver::telnet
