#include "files/common/link_target.h"

#include <system_error>

namespace winapi {

namespace {

// As many links as Linux follows before it gives up with ELOOP.
constexpr int kMaxLinkDepth = 40;

}  // namespace

std::filesystem::path ResolveLinks(const std::filesystem::path& path) {
  std::filesystem::path current = path;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) {
      return current;
    }
    const std::filesystem::path target = std::filesystem::read_symlink(current, error);
    if (error) return current;
    // Followed by hand rather than canonicalised, so that a link whose target does not
    // exist yet still leads to it.
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels),
                          "cannot follow the links of " + path.string());
}

}  // namespace winapi
