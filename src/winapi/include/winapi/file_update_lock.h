// Keeps processes that change one file by reading it, changing it and replacing it from
// doing so at the same time, so that none of them writes over what another saved in
// between. Advisory: it holds off only those that take it too.
#pragma once

#include <cstdint>
#include <filesystem>

namespace winapi {

class FileUpdateLock {
 public:
  // Waits until no other holder for the same file (the target of a link) is left. On
  // Linux the lock is on the file's folder, so it leaves nothing behind; on Windows it
  // is a hidden "<name>.lock" file beside the file, which stays. Where the lock cannot
  // be had (the folder is missing or refuses it) the update goes ahead unlocked and
  // fails or succeeds on its own.
  explicit FileUpdateLock(const std::filesystem::path& file);
  ~FileUpdateLock();
  FileUpdateLock(const FileUpdateLock&) = delete;
  FileUpdateLock& operator=(const FileUpdateLock&) = delete;

  bool Held() const { return held_; }

 private:
  std::intptr_t handle_ = -1;  // a descriptor on Linux, a HANDLE on Windows
  bool held_ = false;
};

}  // namespace winapi
