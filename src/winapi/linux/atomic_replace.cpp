#include "winapi/atomic_replace.h"

#include "common/link_target.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

std::system_error ErrnoError(int code, const std::string& what) {
  return std::system_error(code, std::generic_category(), what);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

void WriteAll(int fd, std::string_view content, const std::string& name) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError(errno, "cannot write " + name);
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
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
  FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newMode));
  if (fd.get() < 0) throw ErrnoError(errno, "cannot create " + temporary.string());
  try {
    if (exists && ::fchmod(fd.get(), old.st_mode & 07777) != 0) {
      throw ErrnoError(errno, "cannot set the mode of " + temporary.string());
    }
    WriteAll(fd.get(), content, temporary.string());
    if (::fsync(fd.get()) != 0) throw ErrnoError(errno, "cannot flush " + temporary.string());
    if (::close(fd.release()) != 0) throw ErrnoError(errno, "cannot close " + temporary.string());
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
      throw ErrnoError(errno, "cannot replace " + target.string());
    }
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  // Makes the rename itself durable; a failure here leaves a complete file either way.
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace winapi
