// Whole-file replacement that readers and crashes see as all or nothing.
#pragma once

#include <filesystem>
#include <string_view>

namespace comport {

// Writes `content` to a new file next to `path`, flushes it to the disk and renames it
// over `path` (over the target of a symbolic link, which stays a link). Throws
// std::system_error; `path` is then unchanged and no temporary file is left behind.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content);

}  // namespace comport
