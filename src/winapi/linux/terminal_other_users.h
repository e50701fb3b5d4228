// Whether another process holds a terminal open, as far as the process table shows it.
#pragma once

#include <filesystem>

#include <sys/types.h>

namespace winapi {

// Walks the open descriptors of every process under `procRoot` (except this one) for
// the character device `device`. Processes whose descriptors we may not read are
// skipped: they cannot be seen, which is not the same as using the device.
bool OpenedByAnotherProcess(dev_t device, const std::filesystem::path& procRoot);

}  // namespace winapi
