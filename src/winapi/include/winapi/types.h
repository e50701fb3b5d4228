// The Windows types and constants the serial component uses: the system's own on
// Windows, an exact emulation of the same declarations elsewhere.
#pragma once

#ifdef _WIN32
#include "winapi/windows_types.h"
#else
#include "winapi/emulated_types.h"
#endif
