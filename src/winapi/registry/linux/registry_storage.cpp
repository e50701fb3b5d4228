#include "registry/linux/registry_storage.h"

#include "files/linux/user_config_dir.h"
#include "winapi/atomic_replace.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi::registry {

namespace {

constexpr std::uintmax_t kMaxFileSize = 64u << 20;

bool KeepDamagedCopy(const std::filesystem::path& file) {
  std::error_code error;
  for (int n = 1; n < 1000; ++n) {
    std::filesystem::path copy = file;
    copy += ".damaged-" + std::to_string(n);
    if (std::filesystem::exists(copy, error)) continue;
    return std::filesystem::copy_file(file, copy, error) && !error;
  }
  return false;
}

// The writers' companion lock file, created with its folder when missing.
int OpenLockFile(const std::filesystem::path& registryFile) {
  std::error_code error;
  std::filesystem::create_directories(registryFile.parent_path(), error);
  std::filesystem::path lockFile = registryFile;
  lockFile += ".lock";
  return ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

}  // namespace

std::optional<std::filesystem::path> RegistryFilePath() {
  if (auto file = AbsolutePathFromEnv("PZ_REGISTRY_FILE")) return file;
  if (auto config = UserConfigDirectory()) return *config / "registry.dat";
  return std::nullopt;
}

WriterLock::WriterLock(const std::filesystem::path& registryFile)
    : fd_(OpenLockFile(registryFile)) {
  if (fd_.Get() < 0) return;
  while (::flock(fd_.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_.Release());
      return;
    }
  }
}

FileStamp StampOf(const std::filesystem::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return FileStamp{};
  constexpr std::int64_t kNsPerSecond = 1'000'000'000;
  return FileStamp{true,
                   static_cast<std::uint64_t>(status.st_dev),
                   static_cast<std::uint64_t>(status.st_ino),
                   static_cast<std::int64_t>(status.st_size),
                   status.st_mtim.tv_sec * kNsPerSecond + status.st_mtim.tv_nsec,
                   status.st_ctim.tv_sec * kNsPerSecond + status.st_ctim.tv_nsec};
}

LONG LoadRegistryFile(const std::filesystem::path& file, ParsedRegistry& parsed) {
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    parsed = ParseRegistryText("");
    return ERROR_SUCCESS;
  }
  if (error || !std::filesystem::is_regular_file(status)) return ERROR_CANTREAD;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kMaxFileSize) return ERROR_CANTREAD;
  std::ifstream in(file, std::ios::binary);
  if (!in) return ERROR_CANTREAD;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return ERROR_CANTREAD;
  parsed = ParseRegistryText(text);
  return ERROR_SUCCESS;
}

LONG SaveRegistryFile(const std::filesystem::path& file, const RegistryNode& top,
                      bool replacesDamagedFile) {
  if (replacesDamagedFile && !KeepDamagedCopy(file)) return ERROR_CANTWRITE;
  try {
    ReplaceFileAtomically(file, SerializeRegistry(top), NewFileAccess::OwnerOnly);
  } catch (const std::system_error&) {
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

}  // namespace winapi::registry
