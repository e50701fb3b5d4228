// The lines of an INI file with the sections and keys found in them, read and written
// the way the Windows private-profile functions do. Parsing never fails: a line that is
// neither a header nor a key line is kept as it stands, and every line keeps its own
// line end, so a save changes no byte outside the lines it writes.
#pragma once

#include "common/ini_encoding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comport {

class IniDocument {
 public:
  // Decoded text; lines end at CRLF, LF or a lone CR.
  static IniDocument Parse(std::string_view text);
  // The file's bytes, with or without a byte-order mark (see DecodeIniText).
  static IniDocument FromFileBytes(std::string_view bytes);
  // The decoded text. A line added to the document ends like the file's first line
  // (CRLF in a file that has none).
  std::string Serialize() const;
  // The file's bytes, in the encoding the file was read in; nothing when the text
  // cannot be held in it (see CanHold).
  std::optional<std::string> ToFileBytes() const;

  // The value of the first matching key in the first matching section, unquoted. The
  // section named "" is the lines before the first header.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Replaces the first matching key line, or adds the key at the end of the section,
  // or adds the section at the end of the file. Names and value must be representable
  // (see IsValid* and CanHold); the value is quoted when the reader would otherwise
  // alter it. Keys of the section "" go before the first header.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  static bool IsValidSectionName(std::string_view name);
  static bool IsValidKeyName(std::string_view name);
  static bool IsValidValue(std::string_view value);
  // Whether `text` can be saved in the file's encoding.
  bool CanHold(std::string_view text) const;

  // Sections with a header.
  std::size_t SectionCount() const;

 private:
  struct Line {
    std::string text;    // as read, without the line end
    std::string ending;  // "\r\n", "\n", "\r", or "" for the last line of a file without one
    std::string key;     // trimmed key of a key line, empty otherwise
    std::string value;   // trimmed, unquoted value of a key line
  };
  struct Section {
    bool hasHeader = false;  // false only for the lines before the first header
    std::string name;
    Line header;
    std::vector<Line> lines;
  };

  static Line ParseLine(std::string_view text, std::string_view ending);
  Line NewLine(std::string text) const;
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<Section> sections_;
  std::string newLineEnding_ = "\r\n";
  IniFileFormat format_;
};

}  // namespace comport
