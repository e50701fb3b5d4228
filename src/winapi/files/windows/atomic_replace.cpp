#include "winapi/atomic_replace.h"

#include "files/common/link_target.h"
#include "files/common/stale_temporaries.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>
#include <utility>

#include "winapi/windows_types.h"

namespace winapi {

namespace {

std::system_error LastError(const std::string& what) {
  return std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != FALSE;
  }

 private:
  HANDLE handle_;
};

// Enough fresh names to get past any number of leftovers a crash could have made.
constexpr int kNameAttempts = 100;

// A new, empty temporary file beside `target`; never one that was already there.
FileHandle CreateTemporary(const std::filesystem::path& target, std::filesystem::path& temporary) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix = target.filename().wstring() + L".tmp-";
  RemoveStaleTemporaries(target.parent_path(), prefix);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = target.parent_path() / (prefix + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                        std::to_wstring(counter++));
    HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return FileHandle(handle);
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  throw LastError("cannot create " + temporary.string());
}

}  // namespace

bool ProcessExists(unsigned long pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool running = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

// Windows refuses to replace a read-only file by itself, and the new file takes the
// folder's permissions, so `access` has nothing to add here.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           NewFileAccess /*access*/) {
  const std::filesystem::path target = ResolveLinks(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    throw LastError("cannot replace read-only " + target.string());
  }
  std::filesystem::path temporary;
  FileHandle file = CreateTemporary(target, temporary);
  try {
    while (!content.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(file.get(), content.data(), chunk, &written, nullptr)) {
        throw LastError("cannot write " + temporary.string());
      }
      content.remove_prefix(written);
    }
    if (!::FlushFileBuffers(file.get())) throw LastError("cannot flush " + temporary.string());
    if (!file.Close()) throw LastError("cannot close " + temporary.string());
    if (!::MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      throw LastError("cannot replace " + target.string());
    }
  } catch (...) {
    file.Close();
    ::DeleteFileW(temporary.c_str());
    throw;
  }
}

}  // namespace winapi
