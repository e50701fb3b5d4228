// The registry file is text, one line per key header or value, so that a damaged file
// can still be read line by line and a person can inspect it:
//
//   PZRQ480 REGISTRY 1
//   [HKEY_CURRENT_USER\Software\Example]
//   "Name"=sz:"text"
//   "Count"=dword:0000001c
//   "Blob"=hex(3):01,02,ff
//
// Key names in headers escape "%", "]", backslash, controls and non-ASCII bytes as %HH; quoted
// names and texts escape "\", the quote, controls and non-ASCII bytes as \xHH.
#include "registry/linux/registry_tree.h"

#include <cstdio>
#include <optional>

namespace winapi::registry {

namespace {

constexpr std::string_view kMagic = "PZRQ480 REGISTRY 1";

bool IsPlainByte(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<unsigned> HexByte(std::string_view text) {
  if (text.size() != 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) return std::nullopt;
  return static_cast<unsigned>(HexDigit(text[0]) * 16 + HexDigit(text[1]));
}

std::string EncodeKeyName(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (IsPlainByte(c) && c != '%' && c != ']' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "%" + Hex2(c);
    }
  }
  return out;
}

std::optional<std::string> DecodeKeyName(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const auto byte = HexByte(text.substr(i + 1, 2));
    if (!byte) return std::nullopt;
    out += static_cast<char>(*byte);
    i += 2;
  }
  return out;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (IsPlainByte(c) && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x" + Hex2(c);
    }
  }
  return out + "\"";
}

// Reads a quoted text at the start of `text`, leaving `text` after its closing quote.
std::optional<std::string> Unquote(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (text.substr(i + 1, 1) != "x") return std::nullopt;
    const auto byte = HexByte(text.substr(i + 2, 2));
    if (!byte) return std::nullopt;
    out += static_cast<char>(*byte);
    i += 3;
  }
  return std::nullopt;  // no closing quote: a truncated line
}

std::string ValueText(const RegistryValue& value) {
  const auto& data = value.data;
  const bool textual =
      (value.type == REG_SZ || value.type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0;
  if (textual) {
    const std::string text(data.begin(), data.end() - 1);
    return (value.type == REG_SZ ? "sz:" : "expand_sz:") + Quote(text);
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    const unsigned number =
        data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned>(data[3]) << 24;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", number);
    return std::string("dword:") + text;
  }
  std::string out = "hex(" + std::to_string(value.type) + "):";
  for (std::size_t i = 0; i < data.size(); ++i) out += (i ? "," : "") + Hex2(data[i]);
  return out;
}

std::optional<RegistryValue> ParseValueData(std::string_view text) {
  RegistryValue value;
  auto takePrefix = [&text](std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
  };
  const bool plainText = takePrefix("sz:");
  if (plainText || takePrefix("expand_sz:")) {
    value.type = plainText ? REG_SZ : REG_EXPAND_SZ;
    const auto unquoted = Unquote(text);
    if (!unquoted || !text.empty()) return std::nullopt;
    value.data.assign(unquoted->begin(), unquoted->end());
    value.data.push_back(0);
    return value;
  }
  if (takePrefix("dword:")) {
    if (text.size() != 8) return std::nullopt;
    value.type = REG_DWORD;
    for (int i = 3; i >= 0; --i) {
      const auto byte = HexByte(text.substr(static_cast<std::size_t>(i) * 2, 2));
      if (!byte) return std::nullopt;
      value.data.push_back(static_cast<BYTE>(*byte));
    }
    return value;
  }
  if (takePrefix("hex(")) {
    const std::size_t close = text.find("):");
    if (close == std::string_view::npos || close == 0 || close > 10) return std::nullopt;
    unsigned long long type = 0;
    for (char c : text.substr(0, close)) {
      if (c < '0' || c > '9') return std::nullopt;
      type = type * 10 + static_cast<unsigned>(c - '0');
    }
    if (type > 0xFFFFFFFFull) return std::nullopt;
    value.type = static_cast<DWORD>(type);
    text.remove_prefix(close + 2);
    for (std::size_t i = 0; i < text.size(); i += 3) {
      const auto byte = HexByte(text.substr(i, 2));
      if (!byte || (i + 2 < text.size() && text[i + 2] != ',')) return std::nullopt;
      value.data.push_back(static_cast<BYTE>(*byte));
    }
    if (!text.empty() && text.back() == ',') return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> ParseHeaderPath(std::string_view text) {
  std::vector<std::string> path;
  while (true) {
    const std::size_t slash = text.find('\\');
    const auto name = DecodeKeyName(text.substr(0, slash));
    if (!name || name->empty()) return std::nullopt;
    path.push_back(*name);
    if (slash == std::string_view::npos) break;
    text.remove_prefix(slash + 1);
  }
  bool knownRoot = false;
  for (std::string_view root : kRootNames) knownRoot |= FoldName(path.front()) == root;
  if (!knownRoot) return std::nullopt;
  path.front() = FoldName(path.front());
  return path;
}

void SerializeNode(const RegistryNode& node, const std::string& path, bool isRoot,
                   std::string& out) {
  if (!isRoot || !node.values.empty()) {
    out += "\n[" + path + "]\n";
    for (const auto& [folded, value] : node.values) {
      out += Quote(value.name) + "=" + ValueText(value) + "\n";
    }
  }
  for (const auto& [folded, child] : node.subkeys) {
    SerializeNode(child, path + "\\" + EncodeKeyName(child.name), false, out);
  }
}

}  // namespace

ParsedRegistry ParseRegistryText(std::string_view text) {
  ParsedRegistry parsed;
  for (std::string_view root : kRootNames) {
    parsed.top.subkeys[std::string(root)].name = std::string(root);
  }
  RegistryNode* current = nullptr;
  bool sawMagic = false;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto problem = [&](const char* what) {
      parsed.problems.push_back("line " + std::to_string(number) + ": " + what);
    };

    if (number == 1) {
      sawMagic = line == kMagic;
      if (!sawMagic) problem("not a registry file header");
      if (sawMagic) continue;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') {
        problem("unterminated key header");
        continue;
      }
      const auto path = ParseHeaderPath(line.substr(1, line.size() - 2));
      if (!path) {
        problem("bad key path");
        continue;
      }
      bool created = false;
      current = &parsed.top.Create(*path, created);
      continue;
    }
    if (current == nullptr) {
      problem("value outside a valid key");
      continue;
    }
    std::string_view rest = line;
    const auto name = Unquote(rest);
    if (!name || rest.empty() || rest.front() != '=') {
      problem("bad value name");
      continue;
    }
    rest.remove_prefix(1);
    auto value = ParseValueData(rest);
    if (!value) {
      problem("bad value data");
      continue;
    }
    value->name = *name;
    current->values[FoldName(*name)] = std::move(*value);
  }
  return parsed;
}

std::string SerializeRegistry(const RegistryNode& top) {
  std::string out(kMagic);
  out += "\n";
  for (const auto& [folded, root] : top.subkeys) SerializeNode(root, root.name, true, out);
  return out;
}

}  // namespace winapi::registry
