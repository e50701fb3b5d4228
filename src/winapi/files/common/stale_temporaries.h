// Temporary files that a file replacement left behind when its process was killed: their
// names carry the process's id ("<prefix><pid>-<n>"), so a later save can tell them apart
// from those of a save still running.
#pragma once

#include <filesystem>

namespace winapi {

// Removes the files in `folder` named "<prefix><pid>-..." whose process has ended.
// Best effort: what cannot be listed or removed stays.
void RemoveStaleTemporaries(const std::filesystem::path& folder,
                            const std::filesystem::path::string_type& prefix);

// False only when no process with that id exists (per system).
bool ProcessExists(unsigned long pid);

}  // namespace winapi
