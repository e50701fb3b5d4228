#include "common/ini_encoding.h"

#include <cstdint>
#include <optional>

namespace comport {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

bool IsHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::uint32_t code, std::string& out) {
  auto byte = [&out](std::uint32_t value) { out += static_cast<char>(value); };
  if (code < 0x80) {
    byte(code);
  } else if (code < 0x800) {
    byte(0xC0 | code >> 6);
    byte(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    byte(0xE0 | code >> 12);
    byte(0x80 | (code >> 6 & 0x3F));
    byte(0x80 | (code & 0x3F));
  } else {
    byte(0xF0 | code >> 18);
    byte(0x80 | (code >> 12 & 0x3F));
    byte(0x80 | (code >> 6 & 0x3F));
    byte(0x80 | (code & 0x3F));
  }
}

// The next code point of `text`, which then starts after it; nothing for a malformed
// sequence. Surrogate code points are accepted, as DecodeIniText produces them.
std::optional<std::uint32_t> NextCodePoint(std::string_view& text) {
  const auto lead = static_cast<unsigned char>(text.front());
  std::size_t length = 0;
  std::uint32_t code = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    text.remove_prefix(1);
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code = code << 6 | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF) return std::nullopt;
  text.remove_prefix(length);
  return code;
}

std::string DecodeUtf16Le(std::string_view bytes) {
  auto unitAt = [bytes](std::size_t i) -> std::uint32_t {
    return static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
  };
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const std::uint32_t unit = unitAt(i);
    if (IsHighSurrogate(unit) && i + 3 < bytes.size() && IsLowSurrogate(unitAt(i + 2))) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00), text);
      i += 2;
    } else {
      AppendUtf8(unit, text);
    }
  }
  return text;
}

std::optional<std::string> EncodeUtf16Le(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  auto unit = [&bytes](std::uint32_t value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>(value >> 8);
  };
  while (!text.empty()) {
    const auto code = NextCodePoint(text);
    if (!code) return std::nullopt;
    if (*code >= 0x10000) {
      unit(0xD800 + ((*code - 0x10000) >> 10));
      unit(0xDC00 + ((*code - 0x10000) & 0x3FF));
    } else {
      unit(*code);
    }
  }
  return bytes;
}

}  // namespace

DecodedIniText DecodeIniText(std::string_view bytes) {
  DecodedIniText decoded;
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    decoded.format.encoding = IniEncoding::Utf8Bom;
    decoded.text = bytes.substr(kUtf8Mark.size());
  } else if (bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
    decoded.format.encoding = IniEncoding::Utf16Le;
    bytes.remove_prefix(kUtf16LeMark.size());
    decoded.text = DecodeUtf16Le(bytes);
    decoded.format.trailing = bytes.substr(bytes.size() & ~std::size_t{1});
  } else {
    decoded.text = bytes;
  }
  return decoded;
}

std::optional<std::string> EncodeIniText(const IniFileFormat& format, std::string text) {
  switch (format.encoding) {
    case IniEncoding::Utf8Bom:
      return std::string(kUtf8Mark) + text;
    case IniEncoding::Utf16Le: {
      const auto units = EncodeUtf16Le(text);
      if (!units) return std::nullopt;
      return std::string(kUtf16LeMark) + *units + format.trailing;
    }
    case IniEncoding::Bytes:
      break;
  }
  return text;
}

bool CanEncode(IniEncoding encoding, std::string_view text) {
  return encoding != IniEncoding::Utf16Le || EncodeUtf16Le(text).has_value();
}

}  // namespace comport
