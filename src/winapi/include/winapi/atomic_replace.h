// Whole-file replacement that readers and crashes see as all or nothing, for the files
// this program keeps (settings files, the emulated registry).
#pragma once

#include <filesystem>
#include <string_view>

namespace winapi {

// Who may read a file that does not exist yet; an existing file keeps its own mode.
enum class NewFileAccess { Everyone, OwnerOnly };

// Writes `content` to a new file next to the file `path` names (the target of a symbolic
// link, which stays a link), flushes it to the disk and renames it over that file, which
// keeps its permission bits. A file without write permission is refused (EACCES), even
// for a user the system would let write it, as a read-only file is on Windows. Throws
// std::system_error; the file is then unchanged and no temporary file is left behind.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           NewFileAccess access = NewFileAccess::Everyone);

}  // namespace winapi
