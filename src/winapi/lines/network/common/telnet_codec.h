// The telnet framing a network serial port speaks: IAC doubling of data, option
// negotiation and subnegotiation. No I/O: bytes in, bytes and commands out.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace winapi::driver::telnet {

inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

// Appends `data` to `wire` with every IAC byte doubled.
void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& wire);

// IAC <verb> <option>.
std::vector<std::uint8_t> Negotiation(std::uint8_t verb, std::uint8_t option);

// IAC SB <option> <payload, IAC doubled> IAC SE.
std::vector<std::uint8_t> Subnegotiation(std::uint8_t option,
                                         std::span<const std::uint8_t> payload);

// Splits received bytes into data and commands. The state survives between calls, so a
// command may arrive split over any number of chunks.
class Decoder {
 public:
  struct Handlers {
    std::function<void(std::uint8_t verb, std::uint8_t option)> negotiation;
    // The option byte is payload[0].
    std::function<void(std::span<const std::uint8_t> payload)> subnegotiation;
  };

  explicit Decoder(Handlers handlers) : handlers_(std::move(handlers)) {}

  // Appends the data bytes of `wire` to `data` and runs the handlers for its commands.
  void Feed(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data);

 private:
  enum class State { Data, Iac, Verb, Sub, SubIac };
  // Longer subnegotiations than this carry nothing we read; the rest is dropped.
  static constexpr std::size_t kMaxSubnegotiation = 64;

  Handlers handlers_;
  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
};

}  // namespace winapi::driver::telnet
