// The lock files serial programs share to agree on who uses a port: "LCK..ttyS0" in a
// common folder, holding the owner's process id as ten right-aligned digits and a
// newline (old programs write the id as four binary bytes).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace winapi {

// "LCK.." and the device's name below /dev, after following links, with '/' as '_'
// ("/dev/pts/3" -> "LCK..pts_3").
std::string LockFileName(const std::string& devicePath);

// The process id a lock file's content names, in either format; nothing for anything else.
std::optional<pid_t> LockFileOwner(std::string_view content);

class TerminalLockFile {
 public:
  // Claims `devicePath` in the lock folders. False when a live process holds a lock on
  // it. Otherwise true, with `lock` holding our own lock file in the first writable
  // folder (empty when none is writable); stale locks of dead processes are removed.
  // When refused, `holder` (if given) receives the id the lock names, 0 for none.
  static bool Claim(const std::string& devicePath,
                    const std::vector<std::filesystem::path>& folders,
                    std::unique_ptr<TerminalLockFile>& lock, pid_t* holder = nullptr);

  // Removes the file, provided it is still the one we wrote.
  ~TerminalLockFile();
  TerminalLockFile(const TerminalLockFile&) = delete;
  TerminalLockFile& operator=(const TerminalLockFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  TerminalLockFile(std::filesystem::path path, dev_t device, ino_t inode);

  std::filesystem::path path_;
  dev_t device_;
  ino_t inode_;
};

}  // namespace winapi
