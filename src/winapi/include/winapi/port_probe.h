// A probe of many ports in a row, such as the start-up list of COM1..COM20.
#pragma once

namespace winapi {

// While one lives on this thread, opens of terminals share one look at which other
// processes hold which devices (taken at the first open that needs it) instead of
// walking the process table once per port: a probe then costs the same however many
// processes run. A port taken by another program during the probe may still be listed;
// the open that uses it looks afresh. Nothing happens on Windows, whose driver decides.
class PortProbe {
 public:
  PortProbe();
  ~PortProbe();
  PortProbe(const PortProbe&) = delete;
  PortProbe& operator=(const PortProbe&) = delete;
};

}  // namespace winapi
