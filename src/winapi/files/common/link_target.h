// Where a file replacement writes: the file a chain of symbolic links ends at.
#pragma once

#include <filesystem>

namespace winapi {

// The file a chain of symbolic links ends at; the path itself when it is no link (or the
// chain cannot be followed).
std::filesystem::path ResolveLinks(const std::filesystem::path& path);

}  // namespace winapi
