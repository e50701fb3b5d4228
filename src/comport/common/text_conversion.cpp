#include "comport/text_conversion.h"

#include "common/integer_text.h"
#include "winapi/ascii_case.h"

#include <array>
#include <cstddef>

namespace comport {

namespace {

constexpr std::array<const char*, 16> kBaudRateTexts{
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<const char*, 3> kStopBitsTexts{"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataBitsTexts{"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts{"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowControlTexts{"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDTRControlTexts{"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRTSControlTexts{"Disable", "Enable", "Handshake", "Toggle"};

// The text of an ordinal; an ordinal outside the table (never produced by the
// component, but possible through a cast) gives the empty text rather than a wild read.
template <std::size_t N>
std::string TextOf(const std::array<const char*, N>& table, unsigned ordinal) {
  return ordinal < N ? table[ordinal] : "";
}

template <typename Enum, std::size_t N>
Enum ParseEnum(const std::array<const char*, N>& table, const std::string& text, Enum fallback) {
  for (std::size_t i = 0; i < N; ++i) {
    if (winapi::EqualsIgnoringAsciiCase(table[i], text)) return static_cast<Enum>(i);
  }
  return fallback;
}

}  // namespace

std::string BaudRateText(TBaudRate value) {
  return TextOf(kBaudRateTexts, value);
}
std::string StopBitsText(TStopBits value) {
  return TextOf(kStopBitsTexts, value);
}
std::string DataBitsText(TDataBits value) {
  return TextOf(kDataBitsTexts, value);
}
std::string ParityText(TParityBits value) {
  return TextOf(kParityTexts, value);
}
std::string FlowControlText(TFlowControl value) {
  return TextOf(kFlowControlTexts, value);
}
std::string DTRControlText(TDTRFlowControl value) {
  return TextOf(kDTRControlTexts, value);
}
std::string RTSControlText(TRTSFlowControl value) {
  return TextOf(kRTSControlTexts, value);
}
std::string YesNoText(bool value) {
  return value ? "Yes" : "No";
}

std::string CharText(char value) {
  const unsigned code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  return "#" + std::to_string(code);
}

TBaudRate ParseBaudRate(const std::string& text) {
  return ParseEnum(kBaudRateTexts, text, br9600);
}
TStopBits ParseStopBits(const std::string& text) {
  return ParseEnum(kStopBitsTexts, text, sbOneStopBit);
}
TDataBits ParseDataBits(const std::string& text) {
  return ParseEnum(kDataBitsTexts, text, dbEight);
}
TParityBits ParseParity(const std::string& text) {
  return ParseEnum(kParityTexts, text, prNone);
}
TFlowControl ParseFlowControl(const std::string& text) {
  return ParseEnum(kFlowControlTexts, text, fcCustom);
}
TDTRFlowControl ParseDTRControl(const std::string& text) {
  return ParseEnum(kDTRControlTexts, text, dtrDisable);
}
TRTSFlowControl ParseRTSControl(const std::string& text) {
  return ParseEnum(kRTSControlTexts, text, rtsDisable);
}
bool ParseYesNo(const std::string& text) {
  return winapi::EqualsIgnoringAsciiCase(text, "Yes");
}

char ParseCharText(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return text[0];
  const auto number = ParseInt32(std::string_view(text).substr(1));
  if (!number) return 0;
  return static_cast<char>(static_cast<std::uint32_t>(*number) & 0xFFu);
}

}  // namespace comport
