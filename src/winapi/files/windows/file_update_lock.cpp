#include "winapi/file_update_lock.h"

#include "files/common/link_target.h"

#include <system_error>

#include "winapi/windows_types.h"

namespace winapi {

FileUpdateLock::FileUpdateLock(const std::filesystem::path& file) {
  std::filesystem::path lockFile = file;
  try {
    lockFile = ResolveLinks(file);
  } catch (const std::system_error&) {
    // A looping link: the replacement reports it.
  }
  lockFile += L".lock";
  HANDLE handle = ::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  OVERLAPPED whole{};
  held_ = ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole) != FALSE;
}

FileUpdateLock::~FileUpdateLock() {
  if (handle_ == -1) return;
  // Closing the handle releases the lock.
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace winapi
