#include "linux/terminal_other_users.h"

#include <cctype>
#include <memory>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

bool DescriptorsInclude(const std::filesystem::path& fdFolder, dev_t device) {
  Directory dir(::opendir(fdFolder.c_str()));
  if (!dir) return false;
  const int dirFd = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    // Sockets, pipes and anonymous inodes read as "socket:[…]" and the like; only a
    // path can name a device, and skipping the rest keeps the walk cheap.
    char target[2];
    if (::readlinkat(dirFd, entry->d_name, target, sizeof target) < 1 || target[0] != '/') {
      continue;
    }
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISCHR(info.st_mode) &&
        info.st_rdev == device) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool OpenedByAnotherProcess(dev_t device, const std::filesystem::path& procRoot) {
  Directory processes(::opendir(procRoot.c_str()));
  if (!processes) return false;
  const std::string self = std::to_string(::getpid());
  while (const dirent* entry = ::readdir(processes.get())) {
    if (!IsProcessId(entry->d_name) || self == entry->d_name) continue;
    if (DescriptorsInclude(procRoot / entry->d_name / "fd", device)) return true;
  }
  return false;
}

}  // namespace winapi
