// Saving a port's settings to an INI file or a registry key and loading them back:
// opens the store, runs the port's write or read operation, and saves and closes it.
// Failures of the store itself raise EComPort on the port's name: code 16 "Failed to
// store settings" (INI file cannot be read or written), 17 "Failed to load settings"
// (no INI file or registry key to load from, or the file cannot be read), or 23
// "Registry error" as EComPortExt carrying the registry's error number (a key that
// cannot be created or opened; on Linux, a damaged registry file, with the file and
// line in the message). Errors of the operations themselves (a value the store
// refuses, a setter that fails on an open port) pass through unchanged; values already
// handled by then stay written or assigned.
#pragma once

#include "comport/port.h"
#include "winapi/types.h"

#include <filesystem>
#include <string>

namespace comport {

// The section is the port's Name(), or the one given. A missing file is created; its
// folder must exist; a symbolic link keeps pointing at the file it names, which is
// written (and created when missing). Other sections, keys and comments of the file are
// kept, also those another process saved while this one was saving; the file is
// replaced whole, so it is never left half-written. Each save writes once: when it
// reports a failure the file is as it was.
void SaveSettingsToIniFile(TCustomComPort& Port, const std::filesystem::path& FileName);
void SaveSettingsToIniFile(TCustomComPort& Port, const std::filesystem::path& FileName,
                           const std::string& Section);
// Keys absent from the section leave their settings as they are (see ReadSettingsFromIni).
void LoadSettingsFromIniFile(TCustomComPort& Port, const std::filesystem::path& FileName);
void LoadSettingsFromIniFile(TCustomComPort& Port, const std::filesystem::path& FileName,
                             const std::string& Section);

// KeyPath below Root (such as HKEY_CURRENT_USER), created for saving when missing.
void SaveSettingsToRegistry(TCustomComPort& Port, HKEY Root, const std::string& KeyPath);
void LoadSettingsFromRegistry(TCustomComPort& Port, HKEY Root, const std::string& KeyPath);

}  // namespace comport
