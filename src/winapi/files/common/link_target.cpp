#include "files/common/link_target.h"

#include <system_error>

namespace winapi {

std::filesystem::path ResolveLinks(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
    const auto target = std::filesystem::weakly_canonical(path, error);
    if (!error) return target;
  }
  return path;
}

}  // namespace winapi
