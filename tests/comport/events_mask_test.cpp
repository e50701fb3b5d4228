#include "comport/com_thread.h"
#include "winapi/types.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace comport {
namespace {

// The device's flags are not in ordinal order, so every pair is checked on its own.
const std::vector<std::pair<TComEvent, std::uint32_t>> kFlags = {
    {evRxChar, 0x0001}, {evTxEmpty, 0x0004},  {evRxFlag, 0x0002}, {evRing, 0x0100},
    {evBreak, 0x0040},  {evCTS, 0x0008},      {evDSR, 0x0010},    {evError, 0x0080},
    {evRLSD, 0x0020},   {evRx80Full, 0x0400},
};

TEST(EventMask, EachEventHasItsOwnFlagBothWays) {
  for (const auto& [event, flag] : kFlags) {
    SCOPED_TRACE(static_cast<int>(event));
    EXPECT_EQ(EventsToMask(TComEvents{event}), flag);
    EXPECT_EQ(MaskToEvents(flag), TComEvents{event});
  }
}

TEST(EventMask, WholeAndEmptySets) {
  EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
  EXPECT_EQ(EventsToMask(TComEvents{}), 0u);
  EXPECT_EQ(MaskToEvents(0x05FF), AllComEvents);
  EXPECT_EQ(MaskToEvents(0), TComEvents{});
}

TEST(EventMask, FlagsWithoutAnEventAreIgnored) {
  EXPECT_EQ(MaskToEvents(EV_PERR), TComEvents{});
  EXPECT_EQ(MaskToEvents(EV_PERR | EV_EVENT1 | EV_EVENT2 | 0xFFFF0000u), TComEvents{});
  EXPECT_EQ(MaskToEvents(0xFFFFFFFFu), AllComEvents);
  EXPECT_EQ(EventsToMask(AllComEvents) & EV_PERR, 0u);
}

TEST(EventMask, MixedSetsRoundTrip) {
  const TComEvents set{evTxEmpty, evRing, evRLSD};
  EXPECT_EQ(EventsToMask(set), 0x0124u);
  EXPECT_EQ(MaskToEvents(0x0124), set);
  for (std::uint16_t bits = 0; bits < 0x0400; bits += 37) {
    const auto events = TComEvents::FromBits(bits);
    EXPECT_EQ(MaskToEvents(EventsToMask(events)), events) << bits;
  }
}

TEST(EventMask, PortEventMessageIsTheFirstUserMessage) {
  EXPECT_EQ(PortEventMessage, 1025u);
}

}  // namespace
}  // namespace comport
