#include "winapi/debug_output.h"

#include "driver/common/debug_sink.h"

#include <mutex>

namespace winapi {
namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

DebugOutputSink& Sink() {
  static DebugOutputSink sink;
  return sink;
}

}  // namespace

void SetDebugOutputSink(DebugOutputSink sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

namespace detail {

void SendToDebugSink(std::string_view text) {
  DebugOutputSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
  }
  // Called outside the lock so that a sink may itself install another sink.
  if (sink) sink(text);
}

}  // namespace detail
}  // namespace winapi
