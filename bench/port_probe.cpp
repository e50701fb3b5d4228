// The window's start-up probe of COM1..COM20 with all twenty ports present (ptys in a
// private port map), on a quiet machine and with many other processes holding files
// open: the probe should cost about the same either way.
//
//   port_probe [extra-processes [files-each [rounds]]]   (defaults: 400 40 5)
#include "configurator/form_pzrq480.h"
#include "ui/headless_application.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPorts = 20;

// Twenty ptys whose masters this process holds, linked as COM1..COM20.
class PortMap {
 public:
  PortMap() {
    char pattern[] = "/tmp/pz-port-probe-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    for (int i = 1; i <= kPorts; ++i) {
      const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) std::exit(1);
      masters_.push_back(master);
      std::filesystem::create_symlink(::ptsname(master), folder_ / ("COM" + std::to_string(i)));
    }
    ::setenv("PZ_PORT_MAP_DIR", folder_.c_str(), 1);
  }
  ~PortMap() {
    for (const int master : masters_) ::close(master);
    std::filesystem::remove_all(folder_);
  }

 private:
  std::filesystem::path folder_;
  std::vector<int> masters_;
};

// Processes that each hold `files` descriptors of ordinary files and wait to be ended.
class Crowd {
 public:
  Crowd(int processes, int files) {
    int ready[2];
    if (::pipe(ready) != 0) std::exit(1);
    for (int i = 0; i < processes; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        // Like any other program: none of the bench's ptys.
        ::close_range(3, ready[1] - 1, 0);
        ::close_range(ready[1] + 1, ~0U, 0);
        for (int f = 0; f < files; ++f) ::open("/proc/self/exe", O_RDONLY);
        if (::write(ready[1], "x", 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(0);
      }
      if (pid > 0) pids_.push_back(pid);
    }
    ::close(ready[1]);
    char byte;
    for (std::size_t i = 0; i < pids_.size() && ::read(ready[0], &byte, 1) == 1; ++i) {
    }
    ::close(ready[0]);
  }
  ~Crowd() {
    for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> pids_;
};

// The median of `rounds` probes, in milliseconds; the ports found are checked.
double ProbeMs(int rounds) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    ui::HeadlessApplication app;
    configurator::TFormPZRQ480 form(app);
    const auto start = Clock::now();
    app.RunHandler([&] { form.FormCreate(); });
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (form.cbPort.Items().size() != kPorts) {
      std::fprintf(stderr, "the probe found %zu of %d ports\n", form.cbPort.Items().size(), kPorts);
      std::exit(1);
    }
    app.RunHandler([&] { form.FormDestroy(); });
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int processes = argc > 1 ? std::atoi(argv[1]) : 400;
  const int files = argc > 2 ? std::atoi(argv[2]) : 40;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  PortMap ports;
  const double quiet = ProbeMs(rounds);
  double crowded = 0;
  {
    Crowd crowd(processes, files);
    crowded = ProbeMs(rounds);
  }
  std::printf("probe of %d ports (median of %d)\n", kPorts, rounds);
  std::printf("  quiet:   %8.1f ms\n", quiet);
  std::printf("  crowded: %8.1f ms  (%d more processes, %d files each)\n", crowded, processes,
              files);
  std::printf("  ratio:   %8.2f x\n", crowded / quiet);
  return 0;
}
