// Where a file replacement writes: the file a chain of symbolic links ends at.
#pragma once

#include <filesystem>

namespace winapi {

// The path a chain of symbolic links ends at, whether or not a file is there yet (a
// dangling link names the file to create); the path itself when it is no link. Throws
// std::system_error (too many levels of links) for a chain that loops.
std::filesystem::path ResolveLinks(const std::filesystem::path& path);

}  // namespace winapi
