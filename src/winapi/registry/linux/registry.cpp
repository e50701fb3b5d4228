// The registry calls on Linux: an emulation kept in a per-user text file. Calls read the
// file again whenever it changed since it was last read, so several processes see each
// other's saved changes. Changes are written behind: they are kept in this process until
// a key is closed or flushed, a key is deleted, or the process ends, and are then
// replayed on the file's current content and saved in one whole-file replacement, so
// a save of many values writes the file once and no other process's change is lost.
// Handles remember a key by its path, as Windows keys are named. A file with a line that
// cannot be read is damaged: reads fail with ERROR_BADDB rather than answer from what
// was left, while the next save repairs the file and keeps the damaged one beside it.
#include "registry/linux/registry_storage.h"
#include "winapi/ascii_case.h"
#include "winapi/winapi.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <string_view>

namespace winapi {

namespace {

using registry::FoldName;
using registry::ParsedRegistry;
using registry::RegistryNode;
using registry::RegistryValue;

constexpr LONG kErrorBadPathname = 161;  // ERROR_BAD_PATHNAME

thread_local std::string lastDamage;  // see RegistryDamage

std::string DamageText(const std::filesystem::path& file,
                       const std::vector<std::string>& problems) {
  std::string text = "the registry file '" + file.string() + "' is damaged at " + problems.front();
  if (problems.size() > 1) {
    text += " (and " + std::to_string(problems.size() - 1) + " more lines)";
  }
  return text + "; saving settings again rewrites it and keeps the damaged file beside it as " +
         file.filename().string() + ".damaged-N";
}
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// A change to the tree, replayable on a newer content of the file. `changed` tells
// whether it altered anything.
using Change = std::function<LONG(RegistryNode& top, bool& changed)>;

struct KeyReference {
  std::vector<std::string> path;  // from the root's name down
  REGSAM access = 0;
  bool deleted = false;  // stays set when a key of the same name is created again
};

bool Allows(REGSAM access, REGSAM needed) {
  return (access & needed) == needed;
}

LONG SplitSubKey(LPCSTR subKey, std::vector<std::string>& names) {
  if (subKey == nullptr) return ERROR_SUCCESS;
  std::string_view text(subKey);
  if (text.empty()) return ERROR_SUCCESS;
  if (text.front() == '\\') return kErrorBadPathname;
  if (text.back() == '\\') text.remove_suffix(1);
  while (true) {
    const std::size_t slash = text.find('\\');
    const std::string_view name = text.substr(0, slash);
    if (name.empty()) return kErrorBadPathname;
    if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    names.emplace_back(name);
    if (slash == std::string_view::npos) return ERROR_SUCCESS;
    text.remove_prefix(slash + 1);
  }
}

class EmulatedRegistry {
 public:
  static EmulatedRegistry& Instance() {
    static EmulatedRegistry registry;
    return registry;
  }

  LONG Create(HKEY base, LPCSTR subKey, REGSAM access, PHKEY result, LPDWORD disposition) {
    if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard lock(mutex_);
    KeyReference parent;
    KeyReference opened;
    if (LONG rc = ResolveSubKey(base, subKey, access, parent, opened); rc != ERROR_SUCCESS) {
      return rc;
    }
    if (LONG rc = Refresh(); rc != ERROR_SUCCESS) return rc;
    const bool created = view_.Find(opened.path) == nullptr;
    const LONG rc = Modify([parentPath = parent.path, parentAccess = parent.access,
                            path = opened.path](RegistryNode& top, bool& changed) -> LONG {
      if (top.Find(parentPath) == nullptr) return ERROR_KEY_DELETED;
      if (top.Find(path) != nullptr) return ERROR_SUCCESS;
      if (!Allows(parentAccess, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      top.Create(path, changed);
      return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    if (disposition != nullptr) {
      *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(std::move(opened));
    return ERROR_SUCCESS;
  }

  LONG Open(HKEY base, LPCSTR subKey, REGSAM access, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard lock(mutex_);
    KeyReference parent;
    KeyReference opened;
    if (LONG rc = ResolveSubKey(base, subKey, access, parent, opened); rc != ERROR_SUCCESS) {
      return rc;
    }
    const LONG rc = Read([&](const RegistryNode& top) -> LONG {
      if (top.Find(parent.path) == nullptr) return ERROR_KEY_DELETED;
      return top.Find(opened.path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = NewHandle(std::move(opened));
    return ERROR_SUCCESS;
  }

  LONG SetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (reserved != 0) return ERROR_INVALID_PARAMETER;
    if (data == nullptr && size != 0) return ERROR_NOACCESS;
    const std::string valueName = name ? name : "";
    if (valueName.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> bytes(data, data + size);
    return ChangeValues(key, [valueName, type, bytes](RegistryNode& node, bool& changed) -> LONG {
      auto [it, inserted] = node.values.try_emplace(FoldName(valueName));
      if (inserted) it->second.name = valueName;
      it->second.type = type;
      it->second.data = bytes;
      changed = true;
      return ERROR_SUCCESS;
    });
  }

  LONG QueryValue(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                  LPDWORD size) {
    if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string valueName = name ? name : "";
    return ReadValues(key, [&](const RegistryNode& node) -> LONG {
      const auto it = node.values.find(FoldName(valueName));
      if (it == node.values.end()) return ERROR_FILE_NOT_FOUND;
      const RegistryValue& value = it->second;
      const DWORD needed = static_cast<DWORD>(value.data.size());
      if (type != nullptr) *type = value.type;
      if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (data != nullptr && needed > 0) std::memcpy(data, value.data.data(), needed);
      if (size != nullptr) *size = needed;
      return ERROR_SUCCESS;
    });
  }

  LONG DeleteValue(HKEY key, LPCSTR name) {
    const std::string valueName = name ? name : "";
    return ChangeValues(key, [valueName](RegistryNode& node, bool& changed) -> LONG {
      changed = node.values.erase(FoldName(valueName)) > 0;
      return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
  }

  // Deletes a key that has no subkeys, as RegDeleteKeyA does.
  LONG DeleteKey(HKEY base, LPCSTR subKey) {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    return Delete(base, subKey, [](RegistryNode& node) -> LONG {
      return node.subkeys.empty() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    });
  }

  // Deletes a key with everything below it; without a subkey name, empties the open
  // key instead and keeps it, as RegDeleteTreeA does.
  LONG DeleteTree(HKEY base, LPCSTR subKey) {
    if (subKey != nullptr) {
      return Delete(base, subKey, [](RegistryNode&) -> LONG { return ERROR_SUCCESS; });
    }
    std::lock_guard lock(mutex_);
    KeyReference reference;
    constexpr REGSAM kNeeded = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE;
    if (LONG rc = ResolveFor(base, kNeeded, reference); rc != ERROR_SUCCESS) return rc;
    LONG rc = Modify([path = reference.path](RegistryNode& top, bool& changed) -> LONG {
      RegistryNode* node = top.Find(path);
      if (node == nullptr) return ERROR_KEY_DELETED;
      changed = !node->subkeys.empty() || !node->values.empty();
      node->subkeys.clear();
      node->values.clear();
      return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS) rc = Commit();
    if (rc == ERROR_SUCCESS) MarkDeleted(reference.path, false);
    return rc;
  }

  // Writes the changes not yet saved. The handle is closed even when that fails.
  LONG Close(HKEY key) {
    std::lock_guard lock(mutex_);
    // Predefined keys are never really closed.
    if (!RootName(key) && handles_.erase(reinterpret_cast<std::uintptr_t>(key)) == 0) {
      return ERROR_INVALID_HANDLE;
    }
    return Commit();
  }

  LONG Flush(HKEY key) {
    std::lock_guard lock(mutex_);
    KeyReference reference;
    if (!Resolve(key, reference)) return ERROR_INVALID_HANDLE;
    return Commit();
  }

  ~EmulatedRegistry() {
    std::lock_guard lock(mutex_);
    Commit();  // at exit: nobody is left to hear of a failure
  }

 private:
  static const char* RootName(HKEY key) {
    const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
    for (std::size_t i = 0; i < std::size(roots); ++i) {
      if (key == roots[i]) return registry::kRootNames[i].data();
    }
    return nullptr;
  }

  bool Resolve(HKEY key, KeyReference& reference) const {
    if (const char* root = RootName(key)) {
      reference = KeyReference{{root}, KEY_ALL_ACCESS};
      return true;
    }
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == handles_.end()) return false;
    reference = it->second;
    return true;
  }

  // The key `subKey` names below `base`, opened with `access`, and its parent.
  LONG ResolveSubKey(HKEY base, LPCSTR subKey, REGSAM access, KeyReference& parent,
                     KeyReference& opened) const {
    if (!Resolve(base, parent)) return ERROR_INVALID_HANDLE;
    if (parent.deleted) return ERROR_KEY_DELETED;
    std::vector<std::string> names;
    if (LONG rc = SplitSubKey(subKey, names); rc != ERROR_SUCCESS) return rc;
    opened = KeyReference{parent.path, access};
    opened.path.insert(opened.path.end(), names.begin(), names.end());
    return ERROR_SUCCESS;
  }

  // The key behind a handle, when the handle was opened with the `needed` rights.
  LONG ResolveFor(HKEY key, REGSAM needed, KeyReference& reference) const {
    if (!Resolve(key, reference)) return ERROR_INVALID_HANDLE;
    if (reference.deleted) return ERROR_KEY_DELETED;
    return Allows(reference.access, needed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  }

  // Runs `query` on the key behind a handle that may query values; a key deleted since
  // the handle was opened has none.
  template <typename Query>
  LONG ReadValues(HKEY key, Query query) {
    std::lock_guard lock(mutex_);
    KeyReference reference;
    if (LONG rc = ResolveFor(key, KEY_QUERY_VALUE, reference); rc != ERROR_SUCCESS) return rc;
    return Read([&](const RegistryNode& top) -> LONG {
      const RegistryNode* node = top.Find(reference.path);
      return node ? query(*node) : ERROR_KEY_DELETED;
    });
  }

  // Runs `change` on the key behind a handle that may set values, and saves the file
  // when it reports a change.
  template <typename ValueChange>
  LONG ChangeValues(HKEY key, ValueChange change) {
    std::lock_guard lock(mutex_);
    KeyReference reference;
    if (LONG rc = ResolveFor(key, KEY_SET_VALUE, reference); rc != ERROR_SUCCESS) return rc;
    return Modify([path = reference.path, change](RegistryNode& top, bool& changed) -> LONG {
      RegistryNode* node = top.Find(path);
      return node ? change(*node, changed) : ERROR_KEY_DELETED;
    });
  }

  // Removes the key `subKey` names below `base` once `mayDelete` agrees. Handles still
  // open on it or below it see ERROR_KEY_DELETED from then on.
  template <typename Check>
  LONG Delete(HKEY base, LPCSTR subKey, Check mayDelete) {
    std::lock_guard lock(mutex_);
    KeyReference parent;
    KeyReference doomed;
    if (LONG rc = ResolveSubKey(base, subKey, KEY_ALL_ACCESS, parent, doomed);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    LONG rc = Modify([parentPath = parent.path, path = doomed.path, mayDelete](
                         RegistryNode& top, bool& changed) -> LONG {
      RegistryNode* node = top.Find(path);
      if (node == nullptr) return top.Find(parentPath) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
      if (path.size() < 2) return ERROR_ACCESS_DENIED;  // the predefined roots stay
      if (LONG rc = mayDelete(*node); rc != ERROR_SUCCESS) return rc;
      const std::vector<std::string> above(path.begin(), path.end() - 1);
      top.Find(above)->subkeys.erase(FoldName(path.back()));
      changed = true;
      return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS) rc = Commit();
    if (rc == ERROR_SUCCESS) MarkDeleted(doomed.path, true);
    return rc;
  }

  // Handles opened on keys this process deleted, at `path` or only below it.
  void MarkDeleted(const std::vector<std::string>& path, bool includingItself) {
    for (auto& [value, reference] : handles_) {
      if (reference.path.size() < path.size() + (includingItself ? 0 : 1)) continue;
      if (std::equal(path.begin(), path.end(), reference.path.begin(), EqualsIgnoringAsciiCase)) {
        reference.deleted = true;
      }
    }
  }

  HKEY NewHandle(KeyReference reference) {
    const std::uintptr_t value = next_;
    next_ += 4;
    handles_.emplace(value, std::move(reference));
    return reinterpret_cast<HKEY>(value);
  }

  // Brings the view up to date with the file; reads it again only when it changed.
  LONG Refresh() {
    const auto file = registry::RegistryFilePath();
    if (file != file_) {
      Commit();  // the changes belong to the file they were made in
      file_ = file;
      stamp_.reset();
    }
    const registry::FileStamp now = file_ ? registry::StampOf(*file_) : registry::FileStamp{};
    if (stamp_ == now) return ERROR_SUCCESS;
    ParsedRegistry parsed = registry::ParseRegistryText("");
    if (file_) {
      if (LONG rc = registry::LoadRegistryFile(*file_, parsed); rc != ERROR_SUCCESS) {
        stamp_.reset();
        return rc;
      }
    }
    damage_.reset();
    if (!parsed.problems.empty()) damage_ = DamageText(*file_, parsed.problems);
    view_ = std::move(parsed.top);
    for (const Change& change : pending_) {
      bool changed = false;
      change(view_, changed);
    }
    stamp_ = now;
    return ERROR_SUCCESS;
  }

  template <typename Query>
  LONG Read(Query query) {
    if (LONG rc = Refresh(); rc != ERROR_SUCCESS) return rc;
    if (damage_) {
      lastDamage = *damage_;
      return ERROR_BADDB;
    }
    return query(static_cast<const RegistryNode&>(view_));
  }

  // Applies `change` to the view and keeps it for the next save.
  LONG Modify(Change change) {
    if (LONG rc = Refresh(); rc != ERROR_SUCCESS) return rc;
    if (!file_) return ERROR_CANTWRITE;
    bool changed = false;
    const LONG rc = change(view_, changed);
    if (rc == ERROR_SUCCESS && changed) pending_.push_back(std::move(change));
    return rc;
  }

  // Saves the kept changes, replayed on the file as it is now, under the writers' lock.
  // A change that no longer applies (another process deleted its key) is dropped. When
  // the save fails the changes are dropped too and the view is read again, so that this
  // process sees what the file holds.
  LONG Commit() {
    if (pending_.empty()) return ERROR_SUCCESS;
    const std::vector<Change> changes = std::exchange(pending_, {});
    stamp_.reset();
    registry::WriterLock lock(*file_);
    if (!lock.Held()) return ERROR_CANTWRITE;
    ParsedRegistry parsed;
    if (LONG rc = registry::LoadRegistryFile(*file_, parsed); rc != ERROR_SUCCESS) return rc;
    bool anyChange = false;
    for (const Change& change : changes) {
      bool changed = false;
      change(parsed.top, changed);
      anyChange = anyChange || changed;
    }
    if (!anyChange) return ERROR_SUCCESS;
    const LONG rc = registry::SaveRegistryFile(*file_, parsed.top, !parsed.problems.empty());
    if (rc == ERROR_SUCCESS) {
      view_ = std::move(parsed.top);
      stamp_ = registry::StampOf(*file_);
      damage_.reset();
    }
    return rc;
  }

  std::mutex mutex_;
  std::map<std::uintptr_t, KeyReference> handles_;
  std::uintptr_t next_ = 0x1000;

  std::optional<std::filesystem::path> file_;  // the file the view and changes belong to
  std::optional<registry::FileStamp> stamp_;   // of the file as the view was read
  RegistryNode view_;                          // the file with the changes applied
  std::optional<std::string> damage_;          // why the file as read cannot be trusted
  std::vector<Change> pending_;                // not saved yet, oldest first
};

}  // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  return EmulatedRegistry::Instance().Create(hKey, lpSubKey, samDesired, phkResult,
                                             lpdwDisposition);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   PHKEY phkResult) {
  return EmulatedRegistry::Instance().Open(hKey, lpSubKey, samDesired, phkResult);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  return EmulatedRegistry::Instance().SetValue(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return EmulatedRegistry::Instance().QueryValue(hKey, lpValueName, lpReserved, lpType, lpData,
                                                 lpcbData);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return EmulatedRegistry::Instance().DeleteValue(hKey, lpValueName);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return EmulatedRegistry::Instance().DeleteKey(hKey, lpSubKey);
}

LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return EmulatedRegistry::Instance().DeleteTree(hKey, lpSubKey);
}

LONG RegFlushKey(HKEY hKey) {
  return EmulatedRegistry::Instance().Flush(hKey);
}

LONG RegCloseKey(HKEY hKey) {
  return EmulatedRegistry::Instance().Close(hKey);
}

std::string RegistryDamage() {
  return lastDamage;
}

}  // namespace winapi
