#include "configurator/command_line/settings_file.h"

#include "configurator/device_settings.h"
#include "configurator/printable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

namespace configurator::command_line {

namespace {

// A saved read is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxSettingsFileSize = 64 * 1024;
// Deep enough for any file this tool writes; a deeper one cannot exhaust the stack.
constexpr int kMaxDepth = 16;

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  std::string text;  // String: the text; Number: the number as written
  std::vector<std::pair<std::string, JsonValue>> members;  // Object
  std::vector<JsonValue> items;                            // Array
};

// A strict reader of the JSON the tool writes (RFC 8259 without surrogate pairs checked).
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  JsonValue Document() {
    JsonValue value = Value(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("text after the end of the JSON document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw SettingsFileError("not valid JSON at byte " + std::to_string(pos_ + 1) + ": " + what);
  }

  void SkipSpace() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) && text_[pos_] != '\0') {
      ++pos_;
    }
  }

  bool Take(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void Expect(char c) {
    if (!Take(c)) Fail(std::string("'") + c + "' expected");
  }

  JsonValue Value(int depth) {
    if (depth > kMaxDepth) Fail("nested too deeply");
    SkipSpace();
    if (pos_ >= text_.size()) Fail("unexpected end");
    JsonValue value;
    const char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      value.kind = JsonValue::Kind::Object;
      if (Take('}')) return value;
      do {
        SkipSpace();
        std::string key = String();
        for (const auto& member : value.members) {
          if (member.first == key) Fail("the key \"" + Printable(key) + "\" is given twice");
        }
        Expect(':');
        value.members.emplace_back(std::move(key), Value(depth + 1));
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++pos_;
      value.kind = JsonValue::Kind::Array;
      if (Take(']')) return value;
      do {
        value.items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.kind = JsonValue::Kind::String;
      value.text = String();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      value.kind = JsonValue::Kind::Number;
      value.text = Number();
    } else if (Word("true") || Word("false")) {
      value.kind = JsonValue::Kind::Bool;
    } else if (Word("null")) {
      value.kind = JsonValue::Kind::Null;
    } else {
      Fail("a value expected");
    }
    return value;
  }

  bool Word(const char* word) {
    const std::size_t length = std::strlen(word);
    if (text_.compare(pos_, length, word) != 0) return false;
    pos_ += length;
    return true;
  }

  std::string Number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      if (pos_ == from) Fail("a digit expected");
    };
    if (text_[pos_] == '-') ++pos_;
    digits();
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      digits();
    }
    return text_.substr(start, pos_ - start);
  }

  std::string String() {
    if (pos_ >= text_.size()) Fail("unexpected end");
    if (text_[pos_] != '"') Fail("a string expected");
    ++pos_;
    std::string out;
    while (true) {
      if (pos_ >= text_.size()) Fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) Fail("unterminated string");
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          out += Utf8(CodeUnit());
          break;
        default:
          Fail("an unknown escape in a string");
      }
    }
  }

  unsigned CodeUnit() {
    if (pos_ + 4 > text_.size()) Fail("a short \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_++];
      value <<= 4;
      if (h >= '0' && h <= '9') {
        value |= static_cast<unsigned>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        value |= static_cast<unsigned>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        value |= static_cast<unsigned>(h - 'A' + 10);
      } else {
        Fail("a bad \\u escape");
      }
    }
    return value;
  }

  // Only the keys and item texts matter, and all of them are ASCII: other characters need
  // only stay distinct from them.
  static std::string Utf8(unsigned code) {
    std::string out;
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

// The members a read or a write prints beside the settings; their values do not matter.
constexpr const char* kIgnoredKeys[] = {
    "port", "searchBaud", "hardwareVersion", "softwareVersion", "problems", "conclusion", "write"};

std::string AllowedItems(const DeviceSetting& setting) {
  const auto items = setting.Items();
  if (setting.coding == ValueCoding::DecimalText) return items.front() + ".." + items.back();
  std::string allowed;
  for (const std::string& item : items) allowed += (allowed.empty() ? "\"" : ", \"") + item + "\"";
  return allowed;
}

int SettingIndex(const DeviceSetting& setting, const JsonValue& value) {
  const std::string key = std::string("\"") + setting.jsonKey + "\"";
  if (value.kind == JsonValue::Kind::Null) {
    throw SettingsFileError(key +
                            " is null: the device did not report it when the file was "
                            "saved");
  }
  if (value.kind != JsonValue::Kind::Number && value.kind != JsonValue::Kind::String) {
    throw SettingsFileError(key + " is neither a number nor a text");
  }
  const auto items = setting.Items();
  const auto it = std::find(items.begin(), items.end(), value.text);
  if (it == items.end()) {
    throw SettingsFileError(std::string(setting.label) + " (" + key +
                            "): " + Printable(value.text) +
                            " is refused; allowed: " + AllowedItems(setting));
  }
  return static_cast<int>(it - items.begin());
}

}  // namespace

std::array<int, 5> ParseSettingsFile(const std::string& text) {
  const JsonValue document = JsonReader(text).Document();
  const char* const notOurs =
      "not a PZ-RQ480 settings file (one is saved with \"pzrq480-cli read --json\")";
  if (document.kind != JsonValue::Kind::Object) throw SettingsFileError(notOurs);
  const JsonValue* settings = nullptr;
  for (const auto& [key, value] : document.members) {
    if (key == "settings") {
      settings = &value;
    } else if (std::none_of(std::begin(kIgnoredKeys), std::end(kIgnoredKeys),
                            [&](const char* known) { return key == known; })) {
      throw SettingsFileError("unknown key \"" + Printable(key) + "\"");
    }
  }
  if (!settings || settings->kind != JsonValue::Kind::Object) {
    throw SettingsFileError(std::string(notOurs) + ": it has no \"settings\" object");
  }
  for (const auto& member : settings->members) {
    const auto& all = DeviceSettings();
    if (std::none_of(all.begin(), all.end(), [&](const DeviceSetting& setting) {
          return member.first == setting.jsonKey;
        })) {
      throw SettingsFileError("unknown key \"" + Printable(member.first) + "\" in \"settings\"");
    }
  }
  std::array<int, 5> indexes{};
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    const DeviceSetting& setting = DeviceSettings()[i];
    const auto it =
        std::find_if(settings->members.begin(), settings->members.end(),
                     [&](const auto& member) { return member.first == setting.jsonKey; });
    if (it == settings->members.end()) {
      throw SettingsFileError(std::string("\"settings\" has no \"") + setting.jsonKey + "\"");
    }
    indexes[i] = SettingIndex(setting, it->second);
  }
  return indexes;
}

std::array<int, 5> LoadSettingsFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw SettingsFileError("cannot be opened: " +
                            std::error_code(errno, std::generic_category()).message());
  }
  std::string text;
  char chunk[4096];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxSettingsFileSize)
      throw SettingsFileError("too large for a settings file");
  }
  if (file.bad()) throw SettingsFileError("cannot be read");
  return ParseSettingsFile(text);
}

}  // namespace configurator::command_line
