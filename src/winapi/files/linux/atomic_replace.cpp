#include "winapi/atomic_replace.h"

#include "files/common/link_target.h"
#include "files/common/stale_temporaries.h"
#include "winapi/owned_fd.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

std::system_error ErrnoError(int code, const std::string& what) {
  return std::system_error(code, std::generic_category(), what);
}

// Enough fresh names to get past any number of leftovers a crash could have made.
constexpr int kNameAttempts = 100;

// A new, empty temporary file beside `target`; never one that was already there.
OwnedFd CreateTemporary(const std::filesystem::path& target, mode_t mode,
                        std::filesystem::path& temporary) {
  static std::atomic<unsigned> counter{0};
  const std::string prefix = "." + target.filename().string() + ".tmp-";
  RemoveStaleTemporaries(target.parent_path(), prefix);
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    temporary = target.parent_path() /
                (prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    OwnedFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.Get() >= 0) return fd;
    error = errno;
  }
  throw ErrnoError(error, "cannot create " + temporary.string());
}

}  // namespace

bool ProcessExists(unsigned long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           NewFileAccess access) {
  const std::filesystem::path target = ResolveLinks(path);

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // The folder being writable would let the rename replace a file its owner protected.
  if (exists && S_ISREG(old.st_mode) &&
      ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
    throw ErrnoError(EACCES, "cannot replace read-only " + target.string());
  }

  std::filesystem::path temporary;
  OwnedFd fd = CreateTemporary(target, access == NewFileAccess::OwnerOnly ? 0600 : 0666, temporary);
  try {
    if (exists && ::fchmod(fd.Get(), old.st_mode & 07777) != 0) {
      throw ErrnoError(errno, "cannot set the mode of " + temporary.string());
    }
    if (!WriteAll(fd.Get(), content)) throw ErrnoError(errno, "cannot write " + temporary.string());
    if (::fsync(fd.Get()) != 0) throw ErrnoError(errno, "cannot flush " + temporary.string());
    if (::close(fd.Release()) != 0) throw ErrnoError(errno, "cannot close " + temporary.string());
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
      throw ErrnoError(errno, "cannot replace " + target.string());
    }
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  // Makes the rename itself durable; a failure here leaves a complete file either way.
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
}

}  // namespace winapi
