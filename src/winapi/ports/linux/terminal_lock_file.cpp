#include "ports/linux/terminal_lock_file.h"

#include "winapi/owned_fd.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi {

namespace {

// A lock file without a readable id may be one its owner has created but not yet
// written; only after this long is it taken for abandoned.
constexpr std::time_t kUnwrittenLockGraceSeconds = 10;

// The kernel's largest process id; it also tells four binary bytes from four ASCII ones.
constexpr std::int32_t kMaxProcessId = 1 << 22;

enum class LockState { kAbsent, kHeld, kStale };

std::string ReadSome(int fd) {
  char buffer[64];
  std::string content;
  while (content.size() < sizeof buffer) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer - content.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

bool ProcessAlive(pid_t pid) {
  // EPERM: it exists but belongs to another user.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// `owner` receives the id a held lock names (0 when it names none).
LockState Inspect(const std::filesystem::path& path, pid_t& owner) {
  owner = 0;
  const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    // A lock we cannot read still says that someone claims the port.
    return errno == ENOENT ? LockState::kAbsent : LockState::kHeld;
  }
  if (const auto named = LockFileOwner(ReadSome(fd.Get()))) {
    // Our own id is left over from an earlier process that had it: this process
    // cannot hold the device through another handle, as the device lock shows.
    if (*named == ::getpid()) return LockState::kStale;
    owner = *named;
    return ProcessAlive(*named) ? LockState::kHeld : LockState::kStale;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return LockState::kHeld;
  return std::time(nullptr) - info.st_mtime < kUnwrittenLockGraceSeconds ? LockState::kHeld
                                                                         : LockState::kStale;
}

// The folders that exist, each once (/var/lock is often a link to /run/lock).
std::vector<std::filesystem::path> DistinctFolders(
    const std::vector<std::filesystem::path>& folders) {
  std::vector<std::filesystem::path> distinct;
  for (const auto& folder : folders) {
    std::error_code error;
    auto canonical = std::filesystem::canonical(folder, error);
    if (error || !std::filesystem::is_directory(canonical, error)) continue;
    bool seen = false;
    for (const auto& known : distinct) seen = seen || known == canonical;
    if (!seen) distinct.push_back(std::move(canonical));
  }
  return distinct;
}

enum class CreateResult { kCreated, kExists, kNotWritable };

CreateResult CreateLock(const std::filesystem::path& path, dev_t& device, ino_t& inode) {
  const OwnedFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return errno == EEXIST ? CreateResult::kExists : CreateResult::kNotWritable;
  char content[16];
  const int length = std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(::getpid()));
  struct stat info {};
  // Readable by every user's serial programs, whatever the umask.
  if (!WriteAll(fd.Get(), std::string_view(content, static_cast<std::size_t>(length))) ||
      ::fchmod(fd.Get(), 0644) != 0 || ::fstat(fd.Get(), &info) != 0) {
    ::unlink(path.c_str());
    return CreateResult::kNotWritable;
  }
  device = info.st_dev;
  inode = info.st_ino;
  return CreateResult::kCreated;
}

}  // namespace

std::string LockFileName(const std::string& devicePath) {
  std::error_code error;
  std::string path = std::filesystem::canonical(devicePath, error).string();
  if (error) path = devicePath;
  constexpr std::string_view kDev = "/dev/";
  std::string name = path.starts_with(kDev) ? path.substr(kDev.size())
                                            : std::filesystem::path(path).filename().string();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

std::optional<pid_t> LockFileOwner(std::string_view content) {
  std::size_t at = content.find_first_not_of(' ');
  if (at == std::string_view::npos) at = content.size();
  const std::size_t digitsEnd = content.find_first_not_of("0123456789", at);
  const std::size_t end = digitsEnd == std::string_view::npos ? content.size() : digitsEnd;
  const bool asciiShape = end > at && end - at <= 10 &&
                          content.find_first_not_of(" \t\r\n", end) == std::string_view::npos;
  if (asciiShape) {
    long long pid = 0;
    for (std::size_t i = at; i < end; ++i) pid = pid * 10 + (content[i] - '0');
    if (pid > 0 && pid <= kMaxProcessId) return static_cast<pid_t>(pid);
    return std::nullopt;
  }
  if (content.size() == sizeof(std::int32_t)) {
    std::int32_t pid = 0;
    std::memcpy(&pid, content.data(), sizeof pid);
    if (pid > 0 && pid <= kMaxProcessId) return static_cast<pid_t>(pid);
  }
  return std::nullopt;
}

bool TerminalLockFile::Claim(const std::string& devicePath,
                             const std::vector<std::filesystem::path>& folders,
                             std::unique_ptr<TerminalLockFile>& lock, pid_t* holder) {
  lock.reset();
  pid_t owner = 0;
  auto held = [&] {
    if (holder) *holder = owner;
    return false;
  };
  const std::string name = LockFileName(devicePath);
  const auto distinct = DistinctFolders(folders);
  for (const auto& folder : distinct) {
    switch (Inspect(folder / name, owner)) {
      case LockState::kHeld:
        return held();
      case LockState::kStale:
        ::unlink((folder / name).c_str());
        break;
      case LockState::kAbsent:
        break;
    }
  }
  for (const auto& folder : distinct) {
    const auto path = folder / name;
    // Another program may claim the port between our look and our create; a few
    // rounds settle who won.
    for (int round = 0; round < 3; ++round) {
      dev_t device = 0;
      ino_t inode = 0;
      const CreateResult result = CreateLock(path, device, inode);
      if (result == CreateResult::kCreated) {
        lock.reset(new TerminalLockFile(path, device, inode));
        return true;
      }
      if (result == CreateResult::kNotWritable) break;
      const LockState state = Inspect(path, owner);
      if (state == LockState::kHeld) return held();
      // A stale lock we may not remove (a sticky folder, another user's file) leaves
      // the port free but unlockable here.
      if (state == LockState::kStale && ::unlink(path.c_str()) != 0 && errno != ENOENT) break;
    }
  }
  return true;
}

TerminalLockFile::TerminalLockFile(std::filesystem::path path, dev_t device, ino_t inode)
    : path_(std::move(path)), device_(device), inode_(inode) {}

TerminalLockFile::~TerminalLockFile() {
  const OwnedFd fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_) return;
  if (LockFileOwner(ReadSome(fd.Get())) != ::getpid()) return;
  ::unlink(path_.c_str());
}

}  // namespace winapi
