// The emulated registry in memory: keys with case-insensitive names, typed values, and
// the text file they are kept in.
#pragma once

#include "winapi/types.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace winapi::registry {

// Windows compares key and value names without regard to ASCII letter case.
std::string FoldName(std::string_view name);

struct RegistryValue {
  std::string name;  // as first written
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegistryNode {
  std::string name;                             // as first created
  std::map<std::string, RegistryNode> subkeys;  // by folded name
  std::map<std::string, RegistryValue> values;  // by folded name

  const RegistryNode* Find(const std::vector<std::string>& path) const;
  RegistryNode* Find(const std::vector<std::string>& path);
  // The node at `path`, creating what is missing; `created` tells whether the last was new.
  RegistryNode& Create(const std::vector<std::string>& path, bool& created);
};

// The names of the predefined roots, in the file and in paths.
inline constexpr std::string_view kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                  "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

struct ParsedRegistry {
  RegistryNode top;                   // its subkeys are the roots
  std::vector<std::string> problems;  // "line N: what", one per line that was skipped
};

// Never fails: lines that cannot be understood are skipped and listed as problems.
ParsedRegistry ParseRegistryText(std::string_view text);
std::string SerializeRegistry(const RegistryNode& top);

}  // namespace winapi::registry
