// Hands OutputDebugStringA text to the sink installed with SetDebugOutputSink.
#pragma once

#include <string_view>

namespace winapi::detail {

void SendToDebugSink(std::string_view text);

}  // namespace winapi::detail
