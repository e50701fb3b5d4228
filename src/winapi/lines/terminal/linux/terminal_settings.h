// Turns a DCB into terminal settings. Uses the kernel's termios2 (custom rates through
// BOTHER), so this header must not meet <termios.h> in one translation unit.
#pragma once

#include "winapi/types.h"

#include <asm/termbits.h>

namespace winapi {

// Changes in `tio` exactly the settings a DCB owns: rate, character format, flow
// control, the start and stop characters and raw mode; every other flag (such as
// EXTPROC) keeps its value. Returns ERROR_SUCCESS, or ERROR_INVALID_PARAMETER, leaving
// `tio` untouched, for a DCB a terminal cannot take.
DWORD ApplyDcbToTermios(const DCB& dcb, termios2& tio);

// Whether the rate a device reports after configuration is the one asked for, within
// the tolerance a UART's divisor needs.
bool RateTaken(DWORD requested, const termios2& actual);

// The rate a termios2 describes, from a Bxxx code or from c_ospeed with BOTHER.
DWORD TermiosRate(const termios2& tio);

}  // namespace winapi
