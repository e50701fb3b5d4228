#include "frame_log_writer.h"

#include <cerrno>
#include <ctime>
#include <system_error>

namespace sim {

std::string TimeStamp(std::chrono::system_clock::time_point start,
                      std::chrono::steady_clock::duration elapsed) {
  using namespace std::chrono;
  const auto wall = start + duration_cast<system_clock::duration>(elapsed);
  const std::time_t seconds = system_clock::to_time_t(wall);
  const auto millis = duration_cast<milliseconds>(wall.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d +%.1f ms", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis),
                duration<double, std::milli>(elapsed).count());
  return text;
}

FrameLogWriter::FrameLogWriter(const std::string& path) {
  if (path.empty()) {
    out_ = stderr;
    return;
  }
  out_ = std::fopen(path.c_str(), "w");
  if (!out_) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  owned_ = true;
}

FrameLogWriter::~FrameLogWriter() {
  if (owned_) std::fclose(out_);
}

void FrameLogWriter::Write(const device::FrameRecord& record) {
  Line(record.time, device::Describe(record));
}

void FrameLogWriter::Note(const std::string& text) {
  Line(device::Clock::now(), text);
}

void FrameLogWriter::Line(device::Clock::time_point time, const std::string& text) {
  std::fprintf(out_, "%s %s\n", TimeStamp(startWall_, time - startSteady_).c_str(), text.c_str());
  std::fflush(out_);
}

}  // namespace sim
