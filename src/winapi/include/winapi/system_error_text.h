// A Windows error number in the system's own words, for the errors a program has no text
// of its own for.
#pragma once

#include "winapi/types.h"

#include <string>

namespace winapi {

// "The remote computer refused the network connection (system error 1225)": the
// system's message (FormatMessage on Windows; on Linux Windows' English words for the
// errors the emulation reports) without its closing full stop, and the number in
// brackets; "system error 4711" alone for a number the system has no message for.
std::string SystemErrorText(DWORD error);

}  // namespace winapi
