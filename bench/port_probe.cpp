// The window's start-up probe of COM1..COM20 and the command-line tool's port list, with
// all twenty ports present (ptys in a private port map), on a quiet machine and with many
// other processes holding files open: each should cost about the same either way. Beside
// them, what merely listing every process's descriptor folder costs, which a probe that
// names every holder of a port cannot avoid.
//
//   port_probe [extra-processes [files-each [rounds]]]   (defaults: 400 40 5)
#include "configurator/form_pzrq480.h"
#include "ui/headless_application.h"
#include "winapi/port_description.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
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

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
  double probeMs;  // the window's start-up probe
  double listMs;   // the description of every port, as "pzrq480-cli ports" prints it
  double tableMs;  // listing every process's descriptor folder, nothing more
};

// What any exact answer to "which process holds this device" pays at the least: the
// names in every process's descriptor folder, without looking at what they lead to.
double ListDescriptorFolders() {
  const auto start = Clock::now();
  std::size_t names = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator process("/proc", error), end; !error && process != end;
       process.increment(error)) {
    std::error_code denied;
    for (std::filesystem::directory_iterator fd(process->path() / "fd", denied), last;
         !denied && fd != last; fd.increment(denied)) {
      ++names;
    }
  }
  if (names == 0) std::fprintf(stderr, "no descriptor folder could be read\n");
  return MsSince(start);
}

// The medians of `rounds` probes and port lists; what they found is checked.
Figures Measure(int rounds) {
  std::vector<double> probes;
  std::vector<double> lists;
  std::vector<double> tables;
  for (int i = 0; i < rounds; ++i) {
    ui::HeadlessApplication app;
    configurator::TFormPZRQ480 form(app);
    auto start = Clock::now();
    app.RunHandler([&] { form.FormCreate(); });
    probes.push_back(MsSince(start));
    if (form.cbPort.Items().size() != kPorts) {
      std::fprintf(stderr, "the probe found %zu of %d ports\n", form.cbPort.Items().size(), kPorts);
      std::exit(1);
    }
    app.RunHandler([&] { form.FormDestroy(); });
    start = Clock::now();
    const auto ports = winapi::DescribePorts();
    lists.push_back(MsSince(start));
    const auto usable = std::count_if(ports.begin(), ports.end(), [](const auto& port) {
      return port.state == winapi::PortState::kUsable;
    });
    if (usable != kPorts) {
      std::fprintf(stderr, "the port list has %d of %d ports usable\n", static_cast<int>(usable),
                   kPorts);
      std::exit(1);
    }
    tables.push_back(ListDescriptorFolders());
  }
  return {Median(probes), Median(lists), Median(tables)};
}

}  // namespace

int main(int argc, char** argv) {
  const int processes = argc > 1 ? std::atoi(argv[1]) : 400;
  const int files = argc > 2 ? std::atoi(argv[2]) : 40;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  PortMap ports;
  const Figures quiet = Measure(rounds);
  Figures crowded{};
  {
    Crowd crowd(processes, files);
    crowded = Measure(rounds);
  }
  std::printf("%d ports, median of %d rounds; crowded: %d more processes, %d files each\n", kPorts,
              rounds, processes, files);
  std::printf("%-22s %10s %10s %8s\n", "", "quiet ms", "crowded ms", "ratio");
  std::printf("%-22s %10.1f %10.1f %7.2fx\n", "window start-up probe", quiet.probeMs,
              crowded.probeMs, crowded.probeMs / quiet.probeMs);
  std::printf("%-22s %10.1f %10.1f %7.2fx\n", "port list (ports)", quiet.listMs, crowded.listMs,
              crowded.listMs / quiet.listMs);
  std::printf("%-22s %10.1f %10.1f %7.2fx\n", "descriptor folders", quiet.tableMs, crowded.tableMs,
              crowded.tableMs / quiet.tableMs);
  // A probe that finds every holder lists those folders once, whatever else it does.
  std::printf(
      "an exact probe at best (its quiet cost plus the crowd's folders): %.2fx, list %.2fx\n",
      (quiet.probeMs + crowded.tableMs - quiet.tableMs) / quiet.probeMs,
      (quiet.listMs + crowded.tableMs - quiet.tableMs) / quiet.listMs);
  return 0;
}
