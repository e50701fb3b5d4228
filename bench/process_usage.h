// What the process (or the calling thread) has used of the machine so far: context
// switches and CPU time.
#pragma once

#include <sys/resource.h>

namespace bench {

struct Usage {
  long voluntarySwitches;
  long involuntarySwitches;
  double cpuMs;  // user and system time together
};

// `who`: RUSAGE_SELF for the whole process, RUSAGE_THREAD for the calling thread.
inline Usage ProcessUsage(int who = RUSAGE_SELF) {
  rusage usage{};
  ::getrusage(who, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return {usage.ru_nvcsw, usage.ru_nivcsw, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

}  // namespace bench
