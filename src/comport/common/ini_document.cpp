#include "common/ini_document.h"

#include "winapi/ascii_case.h"

#include <iterator>
#include <utility>

namespace comport {

namespace {

// What the Windows reader trims around names and values: blanks, the two other
// spacing controls and the old end-of-file mark.
bool IsSpacing(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpacing(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpacing(text.back())) text.remove_suffix(1);
  return text;
}

bool IsQuoted(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A value the reader would trim or unquote is written inside one pair of double quotes.
std::string StoredValue(std::string_view value) {
  const bool needsQuotes = Trim(value) != value || IsQuoted(value);
  if (needsQuotes) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

// Splits off the first line of `text` and its line end.
std::pair<std::string_view, std::string_view> TakeLine(std::string_view& text) {
  const std::size_t end = text.find_first_of("\r\n");
  if (end == std::string_view::npos) return {std::exchange(text, {}), {}};
  const std::size_t endLength = text.substr(end, 2) == "\r\n" ? 2 : 1;
  const auto line = std::pair{text.substr(0, end), text.substr(end, endLength)};
  text.remove_prefix(end + endLength);
  return line;
}

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string_view text, std::string_view ending) {
  Line line{std::string(text), std::string(ending), {}, {}};
  const std::string_view content = Trim(text);
  if (content.empty() || content.front() == ';' || content.front() == '[') return line;
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return line;
  const std::string_view key = Trim(content.substr(0, equals));
  if (key.empty()) return line;
  std::string_view value = Trim(content.substr(equals + 1));
  if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
  line.key = key;
  line.value = value;
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument document;
  document.sections_.emplace_back();
  bool endingKnown = false;
  while (!text.empty()) {
    const auto [lineText, ending] = TakeLine(text);
    if (!endingKnown && !ending.empty()) {
      document.newLineEnding_ = ending;
      endingKnown = true;
    }
    const std::string_view content = Trim(lineText);
    const std::size_t close = content.find(']');
    if (!content.empty() && content.front() == '[' && close != std::string_view::npos) {
      Section section;
      section.hasHeader = true;
      section.name = Trim(content.substr(1, close - 1));
      section.header = Line{std::string(lineText), std::string(ending), {}, {}};
      document.sections_.push_back(std::move(section));
    } else {
      document.sections_.back().lines.push_back(ParseLine(lineText, ending));
    }
  }
  return document;
}

IniDocument IniDocument::FromFileBytes(std::string_view bytes) {
  DecodedIniText decoded = DecodeIniText(bytes);
  IniDocument document = Parse(decoded.text);
  document.format_ = std::move(decoded.format);
  return document;
}

std::string IniDocument::Serialize() const {
  std::vector<const Line*> lines;
  for (const Section& section : sections_) {
    if (section.hasHeader) lines.push_back(&section.header);
    for (const Line& line : section.lines) lines.push_back(&line);
  }
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i]->text;
    // The file's last line may lack an end; once lines follow it, it ends as new ones do.
    const bool needsEnding = lines[i]->ending.empty() && i + 1 < lines.size();
    text += needsEnding ? newLineEnding_ : lines[i]->ending;
  }
  return text;
}

std::optional<std::string> IniDocument::ToFileBytes() const {
  return EncodeIniText(format_, Serialize());
}

IniDocument::Line IniDocument::NewLine(std::string text) const {
  return Line{std::move(text), newLineEnding_, {}, {}};
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  // Windows gives the lines before the first header the name "", so a later "[]"
  // header is never found.
  if (name.empty()) return &sections_.front();
  for (const Section& section : sections_) {
    if (section.hasHeader && winapi::EqualsIgnoringAsciiCase(section.name, name)) return &section;
  }
  return nullptr;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  for (const Line& line : found->lines) {
    if (!line.key.empty() && winapi::EqualsIgnoringAsciiCase(line.key, key)) return line.value;
  }
  return std::nullopt;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* target = FindSection(section);
  if (target == nullptr) {
    // Keep a blank line between the previous content and the new section, for people.
    const Section& last = sections_.back();
    const bool lastIsEmpty = !last.hasHeader && last.lines.empty();
    if (!lastIsEmpty && (last.lines.empty() || !Trim(last.lines.back().text).empty())) {
      sections_.back().lines.push_back(NewLine({}));
    }
    Section added;
    added.hasHeader = true;
    added.name = section;
    added.header = NewLine("[" + std::string(section) + "]");
    sections_.push_back(std::move(added));
    target = &sections_.back();
  }

  for (Line& line : target->lines) {
    if (!line.key.empty() && winapi::EqualsIgnoringAsciiCase(line.key, key)) {
      // The existing spelling of the key is kept; only the value changes.
      line.text = line.key + "=" + StoredValue(value);
      line.value = value;
      return;
    }
  }
  // After the section's last non-blank line, so trailing blank lines stay separators.
  auto position = target->lines.end();
  while (position != target->lines.begin() && Trim(std::prev(position)->text).empty()) {
    --position;
  }
  Line added = NewLine(std::string(key) + "=" + StoredValue(value));
  added.key = key;
  added.value = value;
  target->lines.insert(position, std::move(added));
}

bool IniDocument::IsValidSectionName(std::string_view name) {
  return !HasLineBreak(name) && name.find(']') == std::string_view::npos && Trim(name) == name;
}

bool IniDocument::IsValidKeyName(std::string_view name) {
  return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string_view::npos &&
         Trim(name) == name && name.front() != ';' && name.front() != '[';
}

bool IniDocument::IsValidValue(std::string_view value) {
  return !HasLineBreak(value);
}

bool IniDocument::CanHold(std::string_view text) const {
  return CanEncode(format_.encoding, text);
}

std::size_t IniDocument::SectionCount() const {
  return sections_.size() - 1;
}

}  // namespace comport
