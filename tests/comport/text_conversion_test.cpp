#include "comport/text_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace comport {
namespace {

TEST(TextConversion, EveryEnumerationValueRoundTripsThroughItsText) {
  for (int v = brCustom; v <= br256000; ++v) {
    const auto value = static_cast<TBaudRate>(v);
    EXPECT_EQ(ParseBaudRate(BaudRateText(value)), value) << v;
  }
  for (int v = sbOneStopBit; v <= sbTwoStopBits; ++v) {
    EXPECT_EQ(ParseStopBits(StopBitsText(static_cast<TStopBits>(v))), v);
  }
  for (int v = dbFive; v <= dbEight; ++v) {
    EXPECT_EQ(ParseDataBits(DataBitsText(static_cast<TDataBits>(v))), v);
  }
  for (int v = prNone; v <= prSpace; ++v) {
    EXPECT_EQ(ParseParity(ParityText(static_cast<TParityBits>(v))), v);
  }
  for (int v = fcHardware; v <= fcCustom; ++v) {
    EXPECT_EQ(ParseFlowControl(FlowControlText(static_cast<TFlowControl>(v))), v);
  }
  for (int v = dtrDisable; v <= dtrHandshake; ++v) {
    EXPECT_EQ(ParseDTRControl(DTRControlText(static_cast<TDTRFlowControl>(v))), v);
  }
  for (int v = rtsDisable; v <= rtsToggle; ++v) {
    EXPECT_EQ(ParseRTSControl(RTSControlText(static_cast<TRTSFlowControl>(v))), v);
  }
}

TEST(TextConversion, TextsOfTheTables) {
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  EXPECT_EQ(BaudRateText(br14400), "14400");
  EXPECT_EQ(BaudRateText(br256000), "256000");
  EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
  EXPECT_EQ(DataBitsText(dbFive), "5");
  EXPECT_EQ(ParityText(prSpace), "Space");
  EXPECT_EQ(FlowControlText(fcHardware), "Hardware");
  EXPECT_EQ(DTRControlText(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSControlText(rtsToggle), "Toggle");
  EXPECT_EQ(YesNoText(true), "Yes");
  EXPECT_EQ(YesNoText(false), "No");
}

TEST(TextConversion, ParsingIgnoresAsciiCaseButNothingElse) {
  EXPECT_EQ(ParseParity("none"), prNone);
  EXPECT_EQ(ParseParity("EVEN"), prEven);
  EXPECT_EQ(ParseBaudRate("custom"), brCustom);
  EXPECT_EQ(ParseFlowControl("none"), fcNone);
  EXPECT_EQ(ParseRTSControl("tOGGLE"), rtsToggle);
  // Fallbacks differ per table.
  EXPECT_EQ(ParseBaudRate("19200 "), br9600);
  EXPECT_EQ(ParseBaudRate(" 19200"), br9600);
  EXPECT_EQ(ParseBaudRate(""), br9600);
  EXPECT_EQ(ParseDataBits("9"), dbEight);
  EXPECT_EQ(ParseStopBits("3"), sbOneStopBit);
  EXPECT_EQ(ParseParity("Ev en"), prNone);
  EXPECT_EQ(ParseFlowControl("XonXoff"), fcCustom);
  EXPECT_EQ(ParseDTRControl("On"), dtrDisable);
  EXPECT_EQ(ParseRTSControl("Handshake\r"), rtsDisable);
  // Non-ASCII letters are not folded: the Latin-1 byte for 'e acute' stays as it is.
  EXPECT_EQ(ParseParity("Odd\xE9"), prNone);
}

TEST(TextConversion, ParseYesNo) {
  EXPECT_TRUE(ParseYesNo("yes"));
  EXPECT_TRUE(ParseYesNo("YES"));
  EXPECT_TRUE(ParseYesNo("Yes"));
  EXPECT_FALSE(ParseYesNo("True"));
  EXPECT_FALSE(ParseYesNo("1"));
  EXPECT_FALSE(ParseYesNo(""));
  EXPECT_FALSE(ParseYesNo("Yes "));
}

TEST(TextConversion, CharacterTexts) {
  EXPECT_EQ(CharText(17), "#17");
  EXPECT_EQ(CharText(0), "#0");
  EXPECT_EQ(CharText(32), "#32");
  EXPECT_EQ(CharText(33), "!");
  EXPECT_EQ(CharText(65), "A");
  EXPECT_EQ(CharText(127), "\x7F");
  EXPECT_EQ(CharText(static_cast<char>(128)), "#128");
  EXPECT_EQ(CharText(static_cast<char>(200)), "#200");
  EXPECT_EQ(CharText(static_cast<char>(255)), "#255");
  EXPECT_EQ(CharText('#'), "#");
}

TEST(TextConversion, ParseCharText) {
  EXPECT_EQ(ParseCharText(""), 0);
  EXPECT_EQ(ParseCharText("AB"), 65);
  EXPECT_EQ(ParseCharText("#"), 35);
  EXPECT_EQ(ParseCharText("#65"), 65);
  EXPECT_EQ(ParseCharText("#300"), 44);
  EXPECT_EQ(static_cast<unsigned char>(ParseCharText("#-1")), 255);
  EXPECT_EQ(ParseCharText("#A"), 0);
  EXPECT_EQ(ParseCharText("#$41"), 0x41);
  EXPECT_EQ(ParseCharText("#x41"), 0x41);
  EXPECT_EQ(ParseCharText("#0X41"), 0x41);
  EXPECT_EQ(ParseCharText("#  +7"), 7);
  EXPECT_EQ(ParseCharText("#-$10"), static_cast<char>(0xF0));
  EXPECT_EQ(ParseCharText("#$FFFFFF41"), 0x41);  // all 32 bits usable in hex
  EXPECT_EQ(ParseCharText("#2147483647"), static_cast<char>(0xFF));
  EXPECT_EQ(ParseCharText("#-2147483648"), 0);
  EXPECT_EQ(ParseCharText("#2147483648"), 0);  // does not fit: failure gives 0
  EXPECT_EQ(ParseCharText("#$100000041"), 0);
  EXPECT_EQ(ParseCharText("#65 "), 0);  // the whole rest must be a number
  EXPECT_EQ(ParseCharText("#$"), 0);
  EXPECT_EQ(ParseCharText("#0x"), 0);
  EXPECT_EQ(ParseCharText("#-"), 0);
  EXPECT_EQ(ParseCharText("##"), 0);
}

TEST(TextConversion, EveryCharacterCodeRoundTrips) {
  for (int code = 0; code <= 255; ++code) {
    const char c = static_cast<char>(code);
    EXPECT_EQ(static_cast<unsigned char>(ParseCharText(CharText(c))), code) << CharText(c);
  }
}

// Bounded random inputs: parsing never fails, and a "#<decimal>" text agrees with
// arithmetic done independently here.
TEST(TextConversion, ParseCharTextOnRandomInput) {
  std::mt19937 random(480);
  const std::string alphabet = "#$xX0123456789abcdefABCDEF+- \t\xFF";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 14);
    for (int i = 0; i < length; ++i) {
      text += random() % 4 == 0 ? static_cast<char>(random() % 256)
                                : alphabet[random() % alphabet.size()];
    }
    const char parsed = ParseCharText(text);
    if (text.size() > 1 && text[0] == '#') {
      const std::string rest = text.substr(1);
      const bool decimal =
          !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
      if (decimal && rest.size() <= 9) {
        EXPECT_EQ(static_cast<unsigned char>(parsed), std::stoul(rest) % 256) << text;
      }
    } else if (!text.empty()) {
      EXPECT_EQ(parsed, text[0]);
    }
  }
}

}  // namespace
}  // namespace comport
