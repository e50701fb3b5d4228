// Where the emulated registry lives and how it is read and written. Writers hold an
// exclusive lock on a companion lock file, so processes sharing the registry do not
// lose each other's updates; readers need none, since a save replaces the file whole.
#pragma once

#include "winapi/owned_fd.h"
#include "registry/linux/registry_tree.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace winapi::registry {

// $PZ_REGISTRY_FILE when set and absolute, else $XDG_CONFIG_HOME/pzrq480/registry.dat,
// else $HOME/.config/pzrq480/registry.dat; nothing when no absolute folder is known.
std::optional<std::filesystem::path> RegistryFilePath();

// Held while a writer reads, changes and saves the file.
class WriterLock {
 public:
  explicit WriterLock(const std::filesystem::path& registryFile);
  bool Held() const { return fd_.Get() >= 0; }

 private:
  OwnedFd fd_;  // closing it releases the lock
};

// Tells whether the file changed since it was read: a save renames a new file into
// place, so its identity and times change even when the size does not.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::filesystem::path& file);

// A missing file is an empty registry. ERROR_SUCCESS, or ERROR_CANTREAD when the file
// exists but cannot be read (a damaged file still loads: see ParsedRegistry::problems).
LONG LoadRegistryFile(const std::filesystem::path& file, ParsedRegistry& parsed);

// Replaces the file whole. When the file in place was damaged, it is first kept as
// "<file>.damaged-N" so that nothing a person might recover is overwritten.
// ERROR_SUCCESS or ERROR_CANTWRITE.
LONG SaveRegistryFile(const std::filesystem::path& file, const RegistryNode& top,
                      bool replacesDamagedFile);

}  // namespace winapi::registry
