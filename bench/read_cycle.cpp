// A full "Read settings" cycle of the configurator against the emulated device on a
// virtual line: wall time beside the protocol's minimum, and the process's CPU time
// beside the wall time (a waiting loop that spins would burn a whole core).
//
//   read_cycle [cycles]
#include "process_usage.h"

#include "configurator/form_pzrq480.h"
#include "device/virtual_line_device.h"
#include "ui/headless_application.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// 100 ms of settling, then six requests, each its bytes both ways at 10 bits a byte and
// 60 ms of silence that ends the reply.
double ProtocolMinimumMs(double baud) {
  const int versionBytes = 2 + 4;
  const int settingBytes = 4 + 4;
  const double wireMs = (versionBytes + 5 * settingBytes) * 10 * 1000.0 / baud;
  return 100.0 + 6 * 60.0 + wireMs;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 5;
  device::VirtualLineDevice dev("BENCH_READ_CYCLE");
  ui::HeadlessApplication app;
  configurator::TFormPZRQ480 form(app);
  app.RunHandler([&] { form.FormCreate(); });
  form.cbPort.Add("BENCH_READ_CYCLE");
  form.cbPort.SetItemIndex(static_cast<int>(form.cbPort.Items().size()) - 1);

  const double minimum = ProtocolMinimumMs(19200);
  std::printf("read cycle at 19200 baud, protocol minimum %.1f ms\n", minimum);
  std::printf("%5s %10s %10s %9s %8s\n", "cycle", "wall ms", "cpu ms", "wall/min", "cpu/wall");
  double wallTotal = 0;
  double cpuTotal = 0;
  for (int i = 0; i < cycles; ++i) {
    const auto start = Clock::now();
    const double cpuStart = bench::ProcessUsage().cpuMs;
    app.RunHandler([&] { form.btnReadClick(); });
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double cpu = bench::ProcessUsage().cpuMs - cpuStart;
    if (form.LastRead.version.status != configurator::ReplyStatus::Good) {
      std::fprintf(stderr, "cycle %d: the device did not answer\n", i + 1);
      return 1;
    }
    wallTotal += wall;
    cpuTotal += cpu;
    std::printf("%5d %10.1f %10.1f %8.1f%% %7.1f%%\n", i + 1, wall, cpu, 100.0 * wall / minimum,
                100.0 * cpu / wall);
  }
  std::printf("%5s %10.1f %10.1f %8.1f%% %7.1f%%\n", "mean", wallTotal / cycles, cpuTotal / cycles,
              100.0 * wallTotal / cycles / minimum, 100.0 * cpuTotal / wallTotal);
  return 0;
}
