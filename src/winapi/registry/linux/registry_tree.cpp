#include "registry/linux/registry_tree.h"

#include "winapi/ascii_case.h"

namespace winapi::registry {

std::string FoldName(std::string_view name) {
  return AsciiUpper(name);
}

const RegistryNode* RegistryNode::Find(const std::vector<std::string>& path) const {
  const RegistryNode* node = this;
  for (const std::string& name : path) {
    const auto it = node->subkeys.find(FoldName(name));
    if (it == node->subkeys.end()) return nullptr;
    node = &it->second;
  }
  return node;
}

RegistryNode* RegistryNode::Find(const std::vector<std::string>& path) {
  return const_cast<RegistryNode*>(static_cast<const RegistryNode*>(this)->Find(path));
}

RegistryNode& RegistryNode::Create(const std::vector<std::string>& path, bool& created) {
  RegistryNode* node = this;
  created = false;
  for (const std::string& name : path) {
    auto [it, inserted] = node->subkeys.try_emplace(FoldName(name));
    if (inserted) it->second.name = name;
    created = inserted;
    node = &it->second;
  }
  return *node;
}

}  // namespace winapi::registry
