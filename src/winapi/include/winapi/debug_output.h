// Lets tests and tools see what the program sends to the debugger output.
#pragma once

#include <functional>
#include <string_view>

namespace winapi {

using DebugOutputSink = std::function<void(std::string_view)>;

// Installs a sink that receives every OutputDebugStringA text (an empty function removes it).
// The system's debugger output still receives the text on Windows.
void SetDebugOutputSink(DebugOutputSink sink);

}  // namespace winapi
