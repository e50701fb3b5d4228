#include "driver/common/debug_sink.h"
#include "winapi/winapi.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace winapi {

void OutputDebugStringA(LPCSTR lpOutputString) {
  const std::string_view text = lpOutputString ? lpOutputString : "";
  detail::SendToDebugSink(text);
  // There is no debugger to listen here; PZ_DEBUG_OUTPUT shows the text on stderr instead.
  if (std::getenv("PZ_DEBUG_OUTPUT")) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

}  // namespace winapi
