#include "winapi/file_update_lock.h"

#include "files/common/link_target.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace winapi {

namespace {

std::filesystem::path FolderOf(const std::filesystem::path& file) {
  std::filesystem::path target = file;
  try {
    target = ResolveLinks(file);
  } catch (const std::system_error&) {
    // A looping link: the replacement reports it.
  }
  return target.has_parent_path() ? target.parent_path() : ".";
}

}  // namespace

// A lock on the folder serves every file in it; a save takes milliseconds, so saves of
// different files in one folder waiting for each other costs nothing that matters.
FileUpdateLock::FileUpdateLock(const std::filesystem::path& file) {
  const int fd = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  handle_ = fd;
  int rc = 0;
  while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  held_ = rc == 0;
}

FileUpdateLock::~FileUpdateLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // releases the lock
}

}  // namespace winapi
