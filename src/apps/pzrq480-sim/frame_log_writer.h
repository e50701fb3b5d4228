// The simulator's frame log: one line per record, with the wall-clock time and the
// milliseconds since the simulator started.
#pragma once

#include "device/frame_log.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace sim {

class FrameLogWriter {
 public:
  // Writes to `path` (created or truncated), or to standard error when it is empty.
  // Throws std::system_error when the file cannot be opened.
  explicit FrameLogWriter(const std::string& path);
  ~FrameLogWriter();
  FrameLogWriter(const FrameLogWriter&) = delete;
  FrameLogWriter& operator=(const FrameLogWriter&) = delete;

  void Write(const device::FrameRecord& record);
  void Note(const std::string& text);

 private:
  void Line(device::Clock::time_point time, const std::string& text);

  std::FILE* out_ = nullptr;
  bool owned_ = false;
  const device::Clock::time_point startSteady_ = device::Clock::now();
  const std::chrono::system_clock::time_point startWall_ = std::chrono::system_clock::now();
};

// "12:34:56.789 +1234.5 ms" for a moment `elapsed` after `start`.
std::string TimeStamp(std::chrono::system_clock::time_point start,
                      std::chrono::steady_clock::duration elapsed);

}  // namespace sim
