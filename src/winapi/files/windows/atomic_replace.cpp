#include "winapi/atomic_replace.h"

#include "files/common/link_target.h"

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

}  // namespace

// Windows refuses to replace a read-only file by itself, and the new file takes the
// folder's permissions, so `access` has nothing to add here.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           NewFileAccess /*access*/) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path target = ResolveLinks(path);
  const std::filesystem::path temporary =
      target.parent_path() /
      (target.filename().wstring() + L".tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
       std::to_wstring(counter++));
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    throw LastError("cannot replace read-only " + target.string());
  }
  FileHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) throw LastError("cannot create " + temporary.string());
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
