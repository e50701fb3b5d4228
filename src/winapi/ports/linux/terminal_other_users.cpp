#include "ports/linux/terminal_other_users.h"

#include "winapi/port_probe.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace winapi {

namespace {

// The pty multiplexer (/dev/ptmx, /dev/pts/ptmx): each descriptor of it is one pty's
// master, whose number /proc/<pid>/fdinfo/<fd> gives as "tty-index".
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;
// The slaves of pty n are numbered from this major on, 256 to a major.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

std::optional<long> PtyIndexOfSlave(dev_t device) {
  const unsigned majorNumber = major(device);
  if (majorNumber < kFirstPtySlaveMajor || majorNumber >= kFirstPtySlaveMajor + kPtySlaveMajors) {
    return std::nullopt;
  }
  return static_cast<long>((majorNumber - kFirstPtySlaveMajor) * 256 + minor(device));
}

// The "tty-index" a master descriptor's fdinfo names.
std::optional<long> PtyIndexOfMaster(const std::filesystem::path& fdinfo) {
  std::ifstream in(fdinfo);
  constexpr std::string_view kKey = "tty-index:";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kKey, 0) != 0) continue;
    char* end = nullptr;
    const long index = std::strtol(line.c_str() + kKey.size(), &end, 10);
    if (end != line.c_str() + kKey.size() && index >= 0) return index;
  }
  return std::nullopt;
}

// The character devices one process holds, without the slaves of the ptys whose
// masters it holds.
std::vector<dev_t> HeldDevices(const std::filesystem::path& processFolder) {
  std::vector<dev_t> held;
  Directory dir(::opendir((processFolder / "fd").c_str()));
  if (!dir) return held;
  const int dirFd = ::dirfd(dir.get());
  std::vector<std::string> masterFds;
  bool holdsPtySlave = false;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    // Only device nodes, which live below /dev, are followed and examined: the link's
    // text is far cheaper than a look at its target, and most descriptors are files,
    // sockets ("socket:[…]") and pipes.
    constexpr std::string_view kDevices = "/dev/";
    char target[kDevices.size()];
    if (::readlinkat(dirFd, entry->d_name, target, sizeof target) !=
            static_cast<ssize_t>(sizeof target) ||
        std::string_view(target, sizeof target) != kDevices) {
      continue;
    }
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, 0) != 0 || !S_ISCHR(info.st_mode)) continue;
    if (info.st_rdev == makedev(kPtmxMajor, kPtmxMinor)) {
      masterFds.emplace_back(entry->d_name);
      continue;
    }
    holdsPtySlave = holdsPtySlave || PtyIndexOfSlave(info.st_rdev).has_value();
    held.push_back(info.st_rdev);
  }
  // Which ptys the masters belong to matters only to a process that holds a slave.
  if (!holdsPtySlave || masterFds.empty()) return held;
  std::vector<long> masters;
  for (const std::string& fd : masterFds) {
    if (auto index = PtyIndexOfMaster(processFolder / "fdinfo" / fd)) masters.push_back(*index);
  }
  std::erase_if(held, [&](dev_t device) {
    const auto index = PtyIndexOfSlave(device);
    return index && std::find(masters.begin(), masters.end(), *index) != masters.end();
  });
  return held;
}

// The look shared by the opens of a probe on this thread.
struct ProbeLook {
  int depth = 0;
  std::optional<TerminalUsers> look;
};
thread_local ProbeLook probeLook;

}  // namespace

TerminalUsers TerminalUsers::Look(const std::filesystem::path& procRoot) {
  TerminalUsers users;
  Directory processes(::opendir(procRoot.c_str()));
  if (!processes) return users;
  const std::string self = std::to_string(::getpid());
  while (const dirent* entry = ::readdir(processes.get())) {
    if (!IsProcessId(entry->d_name) || self == entry->d_name) continue;
    const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
    for (const dev_t device : HeldDevices(procRoot / entry->d_name)) {
      users.held_.push_back({pid, device});
    }
  }
  return users;
}

std::optional<pid_t> TerminalUsers::OtherUser(dev_t device) const {
  for (const Held& held : held_) {
    if (held.device == device) return held.pid;
  }
  return std::nullopt;
}

std::optional<pid_t> OtherTerminalUser(dev_t device, const std::filesystem::path& procRoot) {
  if (probeLook.depth == 0) return TerminalUsers::Look(procRoot).OtherUser(device);
  if (!probeLook.look) probeLook.look = TerminalUsers::Look(procRoot);
  return probeLook.look->OtherUser(device);
}

std::string ProgramName(pid_t pid, const std::filesystem::path& procRoot) {
  std::ifstream in(procRoot / std::to_string(pid) / "comm");
  std::string name;
  std::getline(in, name);
  return name;
}

PortProbe::PortProbe() {
  ++probeLook.depth;
}

PortProbe::~PortProbe() {
  if (--probeLook.depth == 0) probeLook.look.reset();
}

}  // namespace winapi
