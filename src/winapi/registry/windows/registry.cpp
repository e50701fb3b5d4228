// The registry calls on Windows go straight to the system.
#include "winapi/winapi.h"

namespace winapi {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  return ::RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                           lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  return ::RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return ::RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return ::RegDeleteValueA(hKey, lpValueName);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return ::RegDeleteKeyA(hKey, lpSubKey);
}

LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return ::RegDeleteTreeA(hKey, lpSubKey);
}

LONG RegFlushKey(HKEY hKey) {
  return ::RegFlushKey(hKey);
}

LONG RegCloseKey(HKEY hKey) {
  return ::RegCloseKey(hKey);
}

// The system names no file or line for its own damage.
std::string RegistryDamage() {
  return {};
}

}  // namespace winapi
