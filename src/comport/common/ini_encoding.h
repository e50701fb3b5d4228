// The encodings INI files come in. Files written by other editors may start with a
// byte-order mark; their text is handled as UTF-8 and saved back the way it came.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace comport {

enum class IniEncoding {
  Bytes,    // no mark: the bytes as they are (ANSI or UTF-8)
  Utf8Bom,  // EF BB BF, then UTF-8
  Utf16Le,  // FF FE, then UTF-16 little endian
};

// How a file holds its text, kept so that saving writes the same kind of file.
struct IniFileFormat {
  IniEncoding encoding = IniEncoding::Bytes;
  std::string trailing;  // bytes that end a UTF-16 file in the middle of a unit
};

struct DecodedIniText {
  IniFileFormat format;
  std::string text;  // without the mark; UTF-8 for UTF-16 files
};

// Never fails. In UTF-16 text an unpaired surrogate becomes its own three-byte sequence,
// so that saving gives back the same units.
DecodedIniText DecodeIniText(std::string_view bytes);
// The inverse of DecodeIniText; nothing when the text cannot be held (see CanEncode).
std::optional<std::string> EncodeIniText(const IniFileFormat& format, std::string text);
// Whether `text` can be saved in `encoding`: UTF-16 needs well-formed UTF-8.
bool CanEncode(IniEncoding encoding, std::string_view text);

}  // namespace comport
