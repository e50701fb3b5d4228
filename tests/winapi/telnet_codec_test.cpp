// The telnet framing byte for byte: IAC doubling and commands split anywhere.
#include "lines/network/common/telnet_codec.h"

#include <gtest/gtest.h>

#include <utility>

namespace winapi::driver::telnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Seen {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> negotiations;
  std::vector<Bytes> subnegotiations;
};

Decoder MakeDecoder(Seen& seen) {
  return Decoder({.negotiation =
                      [&seen](std::uint8_t verb, std::uint8_t option) {
                        seen.negotiations.emplace_back(verb, option);
                      },
                  .subnegotiation =
                      [&seen](std::span<const std::uint8_t> payload) {
                        seen.subnegotiations.emplace_back(payload.begin(), payload.end());
                      }});
}

TEST(TelnetCodec, DataIsSentWithEveryIacDoubled) {
  Bytes wire;
  AppendEscaped(Bytes{0x01, 0xFF, 0xFF, 0x00, 0xFE}, wire);
  EXPECT_EQ(wire, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFE}));
  EXPECT_EQ(Negotiation(kWill, 44), (Bytes{0xFF, 0xFB, 0x2C}));
  EXPECT_EQ(Subnegotiation(44, Bytes{1, 0x00, 0x00, 0xFF, 0x00}),
            (Bytes{0xFF, 0xFA, 0x2C, 1, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xF0}));
}

TEST(TelnetCodec, ReceivedDataLosesTheDoubledIacAndTheCommands) {
  Seen seen;
  Decoder decoder = MakeDecoder(seen);
  Bytes data;
  decoder.Feed(Bytes{0x02, 0xFF, 0xFF, 0x03, 0xFF, 0xF1, 0x04, 0xFF, 0xFD, 0x00,
                     0x05, 0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0xFF, 0xF0, 0x06},
               data);
  EXPECT_EQ(data, (Bytes{0x02, 0xFF, 0x03, 0x04, 0x05, 0x06}));
  ASSERT_EQ(seen.negotiations.size(), 1u);
  EXPECT_EQ(seen.negotiations[0], std::pair(kDo, std::uint8_t{0}));
  ASSERT_EQ(seen.subnegotiations.size(), 1u);
  EXPECT_EQ(seen.subnegotiations[0], (Bytes{0x2C, 0x6B, 0xFF}));
}

TEST(TelnetCodec, CommandsSplitOverChunksAreDecodedWhole) {
  const Bytes wire{0x41, 0xFF, 0xFF, 0xFF, 0xFB, 0x03, 0xFF,
                   0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0, 0x42};
  for (std::size_t cut = 1; cut < wire.size(); ++cut) {
    Seen seen;
    Decoder decoder = MakeDecoder(seen);
    Bytes data;
    decoder.Feed(std::span(wire).first(cut), data);
    decoder.Feed(std::span(wire).subspan(cut), data);
    EXPECT_EQ(data, (Bytes{0x41, 0xFF, 0x42})) << "cut at " << cut;
    EXPECT_EQ(seen.negotiations.size(), 1u) << "cut at " << cut;
    ASSERT_EQ(seen.subnegotiations.size(), 1u) << "cut at " << cut;
    EXPECT_EQ(seen.subnegotiations[0], (Bytes{0x2C, 0x6B, 0x30})) << "cut at " << cut;
  }
}

// Only IAC SE ends a subnegotiation; a command inside one is dropped, never read as data.
TEST(TelnetCodec, OnlyIacSeEndsASubnegotiation) {
  struct Case {
    Bytes wire;
    Bytes data;
    std::vector<Bytes> subnegotiations;
  };
  const std::vector<Case> cases = {
      {{0xFF, 0xFA, 0x2C, 0x6B, 0x10, 0xFF, 0xFD, 0x07}, {}, {}},
      {{0xFF, 0xFA, 0x2C, 0x41, 0x41, 0xFF, 0xFA, 0x2C, 0x6B, 0xF0, 0xFF, 0xF0, 0x05},
       {0x05},
       {{0x2C, 0x41, 0x41, 0x2C, 0x6B, 0xF0}}},
      {{0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0xFF, 0xFD, 0x01, 0xFF, 0xF0, 0xFF, 0xFD, 0x03, 0x09},
       {0x09},
       {{0x2C, 0x6B, 0xFF, 0x01}}},
  };
  for (const Case& c : cases) {
    Seen seen;
    Decoder decoder = MakeDecoder(seen);
    Bytes data;
    decoder.Feed(c.wire, data);
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(seen.subnegotiations, c.subnegotiations);
  }
}

}  // namespace
}  // namespace winapi::driver::telnet
