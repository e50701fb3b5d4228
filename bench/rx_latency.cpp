// Receive latency: from the far side's write to OnRxChar running on the main thread,
// which waits in the runtime's message wait like an idle GUI. Then the cost of an
// open port on a quiet line: what the process does during two idle seconds, and how often
// a quiet port's threads wake while another port of the process receives.
//
//   rx_latency [samples]
#include "process_usage.h"

#include "comport/port.h"
#include "runtime/main_thread.h"
#include "winapi/virtual_line.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The far side of a pseudo-terminal: the master end.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      std::perror("pseudo-terminal");
      std::exit(1);
    }
    slave_ = name;
  }
  ~Pty() { ::close(master_); }
  const std::string& SlavePath() const { return slave_; }
  void Write(std::span<const std::uint8_t> bytes) const {
    while (!bytes.empty()) {
      const ssize_t written = ::write(master_, bytes.data(), bytes.size());
      if (written <= 0) {
        std::perror("write");
        return;
      }
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
  }

 private:
  int master_ = -1;
  std::string slave_;
};

constexpr std::uint8_t kSample[] = {0x55};

struct Figures {
  double median_us;
  double p99_us;
  double min_us;
  double max_us;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
  };
  return {at(0.5), at(0.99), samples.front(), samples.back()};
}

// Serves the main thread's messages until `received` reaches `target`, for at most two
// minutes: a line that stopped delivering ends the run rather than hanging it.
void ServeUntilReceived(const std::atomic<int>& received, int target) {
  const auto deadline = Clock::now() + 120s;
  while (received.load() < target && Clock::now() < deadline) {
    runtime::WaitForMessages(1s);
    runtime::ProcessMessages();
  }
}

// A peer thread writes one byte at a time (after a pause, so the event thread is back
// waiting) and notes the time just before the write; the main thread waits for its
// messages and OnRxChar takes the time when it runs.
std::vector<double> MeasureLatency(comport::TComPort& port, const std::function<void()>& write,
                                   int samples) {
  std::atomic<Clock::time_point::rep> start{0};
  std::atomic<int> received{0};
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(samples));
  port.OnRxChar = [&](comport::TObject*, std::int32_t count) {
    const auto now = Clock::now().time_since_epoch().count();
    latencies.push_back(static_cast<double>(now - start.load()) / 1000.0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    port.Read(bytes.data(), count);
    received.fetch_add(1);
  };
  std::thread peer([&] {
    for (int i = 0; i < samples; ++i) {
      while (received.load() < i) std::this_thread::sleep_for(100us);
      std::this_thread::sleep_for(1ms);
      start.store(Clock::now().time_since_epoch().count());
      write();
    }
  });
  ServeUntilReceived(received, samples);
  peer.join();
  port.OnRxChar = nullptr;
  return latencies;
}

void Report(const char* line, const std::vector<double>& latencies) {
  const Figures f = Summarise(latencies);
  std::printf("%-16s samples %5zu  median %8.1f us  p99 %8.1f us  min %7.1f us  max %8.1f us\n",
              line, latencies.size(), f.median_us, f.p99_us, f.min_us, f.max_us);
}

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(task.path().filename().string());
  }
  return ids;
}

// Context switches of the given threads: each is one wake-up.
long SwitchesOf(const std::set<std::string>& threads) {
  long total = 0;
  for (const auto& id : threads) {
    std::ifstream status("/proc/self/task/" + id + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

long OtherThreadsSwitches() {
  std::set<std::string> others = ThreadIds();
  others.erase(std::to_string(::gettid()));
  return SwitchesOf(others);
}

void Idle(std::chrono::milliseconds period) {
  const auto end = Clock::now() + period;
  while (Clock::now() < end) {
    runtime::WaitForMessages(end);
    runtime::ProcessMessages();
  }
}

// Two quiet seconds with the main thread waiting for messages, as an idle GUI would.
void ReportIdle(const char* what) {
  Idle(200ms);  // let the threads of a freshly opened port settle into their waits
  const bench::Usage before = bench::ProcessUsage();
  const long othersBefore = OtherThreadsSwitches();
  Idle(2s);
  const long othersAfter = OtherThreadsSwitches();
  const bench::Usage after = bench::ProcessUsage();
  std::printf("%-34s wake-ups of other threads %3ld  process switches %3ld  CPU %6.2f ms\n", what,
              othersAfter - othersBefore,
              after.voluntarySwitches - before.voluntarySwitches + after.involuntarySwitches -
                  before.involuntarySwitches,
              after.cpuMs - before.cpuMs);
}

constexpr int kBusyBytes = 10000;
constexpr std::size_t kBusyBurst = 10;

// Another port receives kBusyBytes in bursts, each sent once the one before has been read;
// the threads of the quiet ports should sleep through all of it.
void ReportQuietWhileBusy(const char* what, const std::set<std::string>& quietThreads,
                          const std::string& busyPort,
                          const std::function<void(std::span<const std::uint8_t>)>& send) {
  comport::TComPort busy(nullptr);
  busy.SetPort(busyPort);
  busy.Open();
  std::atomic<int> received{0};
  busy.OnRxChar = [&](comport::TObject*, std::int32_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    received.fetch_add(busy.Read(bytes.data(), count));
  };
  Idle(200ms);
  const long before = SwitchesOf(quietThreads);
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    const std::vector<std::uint8_t> burst(kBusyBurst, 0x55);
    for (int sent = 0; sent < kBusyBytes && !stop.load(); sent += static_cast<int>(kBusyBurst)) {
      while (received.load() < sent && !stop.load()) std::this_thread::sleep_for(50us);
      send(burst);
    }
  });
  ServeUntilReceived(received, kBusyBytes);
  stop.store(true);
  peer.join();
  const long after = SwitchesOf(quietThreads);
  busy.OnRxChar = nullptr;
  busy.Close();
  std::printf("%-34s wake-ups of the quiet ports' %zu threads %3ld  (bytes received %d)\n", what,
              quietThreads.size(), after - before, received.load());
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  runtime::SetMainThread();
  std::printf("Receive latency, peer write to OnRxChar on the main thread (smThreadSync)\n");
  {
    auto line = winapi::VirtualLine::Create("BenchLine");
    comport::TComPort port(nullptr);
    port.SetPort(line->Name());
    port.Open();
    Report("virtual line", MeasureLatency(
                               port, [&] { line->Inject({0x55}); }, samples));
    port.Close();
  }
  {
    Pty pty;
    comport::TComPort port(nullptr);
    port.SetPort(pty.SlavePath());
    port.Open();
    Report("pseudo-terminal", MeasureLatency(
                                  port, [&] { pty.Write(kSample); }, samples));
    port.Close();
  }

  std::printf("\nIdle cost over 2 s (whole process)\n");
  ReportIdle("no port open");
  {
    auto line = winapi::VirtualLine::Create("BenchIdle");
    comport::TComPort port(nullptr);
    port.SetPort(line->Name());
    port.Open();
    ReportIdle("port open on a quiet virtual line");
    port.Close();
  }
  {
    Pty pty;
    comport::TComPort port(nullptr);
    port.SetPort(pty.SlavePath());
    port.Open();
    ReportIdle("port open on a quiet pty");
    port.Close();
  }

  std::printf("\nWake-ups of a quiet port's threads while another port receives %d bytes\n",
              kBusyBytes);
  {
    auto quietLine = winapi::VirtualLine::Create("BenchQuiet");
    Pty quietPty;
    const std::set<std::string> before = ThreadIds();
    comport::TComPort quietOnLine(nullptr);
    quietOnLine.SetPort(quietLine->Name());
    quietOnLine.Open();
    comport::TComPort quietOnPty(nullptr);
    quietOnPty.SetPort(quietPty.SlavePath());
    quietOnPty.Open();
    Idle(200ms);
    std::set<std::string> quietThreads;
    for (const auto& id : ThreadIds()) {
      if (!before.contains(id)) quietThreads.insert(id);
    }
    {
      auto busyLine = winapi::VirtualLine::Create("BenchBusy");
      ReportQuietWhileBusy("busy port on a virtual line", quietThreads, busyLine->Name(),
                           [&](std::span<const std::uint8_t> bytes) { busyLine->Inject(bytes); });
    }
    {
      Pty busyPty;
      ReportQuietWhileBusy("busy port on a pty", quietThreads, busyPty.SlavePath(),
                           [&](std::span<const std::uint8_t> bytes) { busyPty.Write(bytes); });
    }
    quietOnPty.Close();
    quietOnLine.Close();
  }
  return 0;
}
