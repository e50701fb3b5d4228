#include "winapi/atomic_replace.h"

#include "files/common/link_target.h"
#include "winapi/owned_fd.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

std::system_error ErrnoError(int code, const std::string& what) {
  return std::system_error(code, std::generic_category(), what);
}

}  // namespace

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           NewFileAccess access) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path target = ResolveLinks(path);

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // The folder being writable would let the rename replace a file its owner protected.
  if (exists && S_ISREG(old.st_mode) &&
      ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
    throw ErrnoError(EACCES, "cannot replace read-only " + target.string());
  }

  const std::filesystem::path temporary =
      target.parent_path() / ("." + target.filename().string() + ".tmp-" +
                              std::to_string(::getpid()) + "-" + std::to_string(counter++));
  const mode_t newMode = access == NewFileAccess::OwnerOnly ? 0600 : 0666;
  OwnedFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newMode));
  if (fd.Get() < 0) throw ErrnoError(errno, "cannot create " + temporary.string());
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
