#!/usr/bin/env python3
"""Fails when code outside src/winapi calls a serial-port function without `winapi::`.

On Windows an unqualified call compiles against the system's function of the same name
and silently bypasses virtual and network lines; on Linux it happens to find the
emulation, so only this check notices. A call written `::Name(` is a deliberate call of
the system's own function and passes.
Usage: check_winapi_calls.py SOURCE_DIR
"""
import pathlib
import re
import sys

SERIAL_CALLS = [
    "CreateFileA", "CloseHandle", "ReadFile", "WriteFile", "GetOverlappedResult",
    "SetupComm", "SetCommState", "GetCommState", "SetCommTimeouts", "GetCommTimeouts",
    "SetCommMask", "WaitCommEvent", "ClearCommError", "PurgeComm", "GetCommModemStatus",
]

root = pathlib.Path(sys.argv[1])
header = (root / "src/winapi/include/winapi/winapi.h").read_text()
declared = set(re.findall(r"^\w+\s+(?:WINAPI\s+)?([A-Z]\w+)\(", header, re.M))
stale = [name for name in SERIAL_CALLS if name not in declared]
if stale:
    sys.exit(f"check_winapi_calls: winapi.h no longer declares {', '.join(stale)}")

# A name not reached through a member, a qualification or a longer identifier.
call = re.compile(r"(?<![\w.>:])(" + "|".join(SERIAL_CALLS) + r")\s*\(")
# Comments and string literals, blanked with their line breaks kept.
noise = re.compile(r"//.*?$|/\*.*?\*/|\"(?:\\.|[^\"\\])*\"", re.S | re.M)

found = []
winapi_dir = root / "src/winapi"
for path in sorted((root / "src").rglob("*")):
    if path.suffix not in (".cpp", ".h") or winapi_dir in path.parents:
        continue
    text = noise.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), path.read_text())
    for m in call.finditer(text):
        line = text.count("\n", 0, m.start()) + 1
        found.append(f"{path.relative_to(root)}:{line}: {m.group(1)} without winapi::")
print("\n".join(found) if found else "every serial-port call outside src/winapi is qualified")
sys.exit(1 if found else 0)
