// Which processes hold which terminals, as far as the process table shows it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace winapi {

// One walk over the open descriptors of every process under a process table (except
// this process). Processes whose descriptors we may not read are skipped: they cannot be
// seen, which is not the same as using a device.
class TerminalUsers {
 public:
  static TerminalUsers Look(const std::filesystem::path& procRoot);

  // A process that holds the character device `device` open, or nothing. A process that
  // holds a pty's master is that pty's far side, not a competing user: its descriptors of
  // the same pty's slave do not count (socat's pty pairs keep both sides open).
  std::optional<pid_t> OtherUser(dev_t device) const;

 private:
  struct Held {
    pid_t pid;
    dev_t device;
  };
  std::vector<Held> held_;
};

// The user of `device` other than this process, looked up in `procRoot`. Within a
// PortProbe on this thread the process table is walked once, at the first look.
std::optional<pid_t> OtherTerminalUser(dev_t device, const std::filesystem::path& procRoot);

// The name of a process's program ("socat"), or empty when it cannot be read.
std::string ProgramName(pid_t pid, const std::filesystem::path& procRoot);

}  // namespace winapi
