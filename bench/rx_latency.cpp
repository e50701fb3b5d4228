// Receive latency: from the far side's write to OnRxChar running on the main thread,
// which waits in the runtime's message wait like an idle GUI, and on the event thread
// (smNone). On a pty each round measures a raw reader of the same pty first (poll and
// read, the floor) and gives the port's figures as multiples of it, beside one hand-over
// to the main thread alone, which a main thread asleep until the byte comes adds to the
// floor at the very least. Then the cost of an open port on a quiet line: what the
// process does during two idle seconds, and how often a quiet port's threads wake while
// another port of the process receives.
//
//   rx_latency [samples per measurement] [pty rounds]
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
#include <poll.h>
#include <termios.h>
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

// One byte's trip: a peer thread writes one byte at a time (after a pause, so the
// receiver is back waiting) and notes the time just before the write; the receiver calls
// Arrived() when the byte reaches it.
class Trips {
 public:
  explicit Trips(int samples) : samples_(samples) {
    latencies_.reserve(static_cast<std::size_t>(samples));
  }
  void Arrived() {
    const auto now = Clock::now().time_since_epoch().count();
    latencies_.push_back(static_cast<double>(now - start_.load()) / 1000.0);
    received_.fetch_add(1);
  }
  const std::atomic<int>& Received() const { return received_; }
  // Runs the peer while `receive` serves the arrivals on this thread.
  std::vector<double> Run(const std::function<void()>& write,
                          const std::function<void()>& receive) {
    std::thread peer([&] {
      for (int i = 0; i < samples_; ++i) {
        while (received_.load() < i) std::this_thread::sleep_for(100us);
        std::this_thread::sleep_for(1ms);
        start_.store(Clock::now().time_since_epoch().count());
        write();
      }
    });
    receive();
    peer.join();
    return latencies_;
  }

 private:
  const int samples_;
  std::atomic<Clock::time_point::rep> start_{0};
  std::atomic<int> received_{0};
  std::vector<double> latencies_;
};

// OnRxChar takes the time, on the main thread (serving its messages meanwhile) or, with
// smNone, on the event thread.
std::vector<double> MeasureLatency(comport::TComPort& port, const std::function<void()>& write,
                                   int samples) {
  Trips trips(samples);
  port.OnRxChar = [&](comport::TObject*, std::int32_t count) {
    trips.Arrived();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    port.Read(bytes.data(), count);
  };
  auto latencies = trips.Run(write, [&] { ServeUntilReceived(trips.Received(), samples); });
  port.OnRxChar = nullptr;
  return latencies;
}

// The floor: this thread reads the pty itself, sleeping in poll between bytes.
std::vector<double> MeasureRawLatency(const std::string& path, const std::function<void()>& write,
                                      int samples) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios raw{};
  if (fd < 0 || ::tcgetattr(fd, &raw) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  Trips trips(samples);
  auto latencies = trips.Run(write, [&] {
    std::uint8_t buffer[64];
    while (trips.Received().load() < samples) {
      pollfd watch{fd, POLLIN, 0};
      if (::poll(&watch, 1, 120000) <= 0) break;  // a stalled line ends the run
      if (::read(fd, buffer, sizeof buffer) > 0) trips.Arrived();
    }
  });
  ::close(fd);
  return latencies;
}

// One hand-over alone, no line involved: another thread's RunOnMainThread to the call
// running on the main thread, which waits for messages between calls. A sleeping main
// thread cannot hear of a byte sooner than the floor plus this.
std::vector<double> MeasureHandOver(int samples) {
  Trips trips(samples);
  return trips.Run([&] { runtime::RunOnMainThread([&] { trips.Arrived(); }); },
                   [&] { ServeUntilReceived(trips.Received(), samples); });
}

void Report(const char* line, const std::vector<double>& latencies) {
  const Figures f = Summarise(latencies);
  std::printf("%-16s samples %5zu  median %8.1f us  p99 %8.1f us  min %7.1f us  max %8.1f us\n",
              line, latencies.size(), f.median_us, f.p99_us, f.min_us, f.max_us);
}

std::vector<double> MeasurePortOnPty(const Pty& pty, comport::TSyncMethod sync, int samples) {
  comport::TComPort port(nullptr);
  port.SetPort(pty.SlavePath());
  port.SetSyncMethod(sync);
  port.Open();
  auto latencies = MeasureLatency(
      port, [&] { pty.Write(kSample); }, samples);
  port.Close();
  return latencies;
}

// Rounds on one pty: the raw reader, then the port with each delivery, figures as
// medians and 99th percentiles, the port's also as multiples of the same round's floor.
void ReportPtyRounds(int samples, int rounds) {
  std::printf("%-5s %-22s %-34s %-34s %s\n", "round", "raw reader (floor)",
              "main thread (smThreadSync)", "event thread (smNone)", "hand-over alone");
  std::printf("%-5s %-22s %-34s %-34s %s\n", "", "median / p99 us", "median / p99 us  (x floor)",
              "median / p99 us  (x floor)", "median us (floor + it, x floor)");
  Pty pty;
  std::vector<double> mainRatios;
  std::vector<double> eventRatios;
  std::vector<double> boundRatios;
  for (int round = 1; round <= rounds; ++round) {
    const Figures floor = Summarise(MeasureRawLatency(
        pty.SlavePath(), [&] { pty.Write(kSample); }, samples));
    const Figures main = Summarise(MeasurePortOnPty(pty, comport::smThreadSync, samples));
    const Figures event = Summarise(MeasurePortOnPty(pty, comport::smNone, samples));
    const Figures handOver = Summarise(MeasureHandOver(samples));
    boundRatios.push_back((floor.median_us + handOver.median_us) / floor.median_us);
    mainRatios.push_back(main.median_us / floor.median_us);
    eventRatios.push_back(event.median_us / floor.median_us);
    std::printf(
        "%-5d %6.1f / %6.1f        %6.1f / %6.1f  (%4.2f / %4.2f)   %6.1f / %6.1f  (%4.2f / "
        "%4.2f)   %5.1f  (%4.2f)\n",
        round, floor.median_us, floor.p99_us, main.median_us, main.p99_us,
        main.median_us / floor.median_us, main.p99_us / floor.p99_us, event.median_us, event.p99_us,
        event.median_us / floor.median_us, event.p99_us / floor.p99_us, handOver.median_us,
        boundRatios.back());
  }
  std::printf("median of the rounds' median ratios: main thread %.2f x, event thread %.2f x\n",
              Summarise(mainRatios).median_us, Summarise(eventRatios).median_us);
  std::printf(
      "a main thread asleep until the byte comes: at best the floor plus one hand-over, "
      "%.2f x\n",
      Summarise(boundRatios).median_us);
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
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  runtime::SetMainThread();
  std::printf("Receive latency on a pseudo-terminal, peer write to the byte's arrival, %d rounds\n",
              rounds);
  ReportPtyRounds(samples, rounds);
  std::printf("\nReceive latency on a virtual line, peer write to OnRxChar on the main thread\n");
  {
    auto line = winapi::VirtualLine::Create("BenchLine");
    comport::TComPort port(nullptr);
    port.SetPort(line->Name());
    port.Open();
    Report("virtual line", MeasureLatency(
                               port, [&] { line->Inject({0x55}); }, samples));
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
