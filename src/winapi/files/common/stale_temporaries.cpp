#include "files/common/stale_temporaries.h"

#include <system_error>

namespace winapi {

void RemoveStaleTemporaries(const std::filesystem::path& folder,
                            const std::filesystem::path::string_type& prefix) {
  std::error_code error;
  std::filesystem::directory_iterator entry(folder.empty() ? "." : folder, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const auto name = entry->path().filename().native();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    unsigned long pid = 0;
    std::size_t at = prefix.size();
    for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 1'000'000'000; ++at) {
      pid = pid * 10 + static_cast<unsigned long>(name[at] - '0');
    }
    if (at == prefix.size() || at == name.size() || name[at] != '-') continue;
    if (ProcessExists(pid)) continue;
    std::error_code ignored;
    std::filesystem::remove(entry->path(), ignored);
  }
}

}  // namespace winapi
