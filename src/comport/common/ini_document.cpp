#include "common/ini_document.h"

#include <iterator>
#include <utility>

namespace comport {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
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
  const bool needsQuotes =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || IsQuoted(value));
  if (needsQuotes) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string_view text) {
  Line line{std::string(text), {}, {}};
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
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view lineText = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);

    const std::string_view content = Trim(lineText);
    const std::size_t close = content.find(']');
    if (!content.empty() && content.front() == '[' && close != std::string_view::npos) {
      Section section;
      section.hasHeader = true;
      section.name = Trim(content.substr(1, close - 1));
      section.headerText = lineText;
      document.sections_.push_back(std::move(section));
    } else {
      document.sections_.back().lines.push_back(ParseLine(lineText));
    }
  }
  return document;
}

std::string IniDocument::Serialize() const {
  std::string text;
  for (const Section& section : sections_) {
    if (section.hasHeader) text += section.headerText + "\r\n";
    for (const Line& line : section.lines) text += line.text + "\r\n";
  }
  return text;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  for (const Section& section : sections_) {
    if (section.hasHeader && SameName(section.name, name)) return &section;
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
    if (!line.key.empty() && SameName(line.key, key)) return line.value;
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
      sections_.back().lines.push_back(Line{});
    }
    Section added;
    added.hasHeader = true;
    added.name = section;
    added.headerText = "[" + std::string(section) + "]";
    sections_.push_back(std::move(added));
    target = &sections_.back();
  }

  for (Line& line : target->lines) {
    if (!line.key.empty() && SameName(line.key, key)) {
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
  Line added{std::string(key) + "=" + StoredValue(value), std::string(key), std::string(value)};
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

std::size_t IniDocument::SectionCount() const {
  return sections_.size() - 1;
}

}  // namespace comport
