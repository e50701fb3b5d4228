// The lines of an INI file with the sections and keys found in them. Parsing never
// fails: a line that is neither a header nor a key line is kept as it stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comport {

class IniDocument {
 public:
  // Accepts LF and CRLF line ends.
  static IniDocument Parse(std::string_view text);
  // Every line followed by CRLF.
  std::string Serialize() const;

  // The value of the first matching key in the first matching section, unquoted.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Replaces the first matching key line, or adds the key at the end of the section,
  // or adds the section at the end of the file. Names and value must be representable
  // (see IsValid*); the value is quoted when the reader would otherwise alter it.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  static bool IsValidSectionName(std::string_view name);
  static bool IsValidKeyName(std::string_view name);
  static bool IsValidValue(std::string_view value);

  std::size_t SectionCount() const;

 private:
  struct Line {
    std::string text;   // as read, without the line end
    std::string key;    // trimmed key of a key line, empty otherwise
    std::string value;  // trimmed, unquoted value of a key line
  };
  struct Section {
    bool hasHeader = false;  // false only for the lines before the first header
    std::string name;
    std::string headerText;
    std::vector<Line> lines;
  };

  static Line ParseLine(std::string_view text);
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<Section> sections_;
};

}  // namespace comport
