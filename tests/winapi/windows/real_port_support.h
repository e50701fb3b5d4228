// A pair of real serial ports wired to each other, named by the environment:
// PZ_TEST_PORT_PAIR="COM25,COM26". Under Wine the test run links two pseudo-terminals,
// joined back to back, into the prefix as those ports. Without the variable the tests
// that need the pair are skipped.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace winapi_test {

inline std::optional<std::pair<std::string, std::string>> PortPairFromEnvironment() {
  const char* value = std::getenv("PZ_TEST_PORT_PAIR");
  if (!value) return std::nullopt;
  const std::string pair = value;
  const auto comma = pair.find(',');
  if (comma == std::string::npos || comma == 0 || comma + 1 == pair.size()) return std::nullopt;
  return std::make_pair(pair.substr(0, comma), pair.substr(comma + 1));
}

// Wine's ntdll exports its version; Windows' does not.
inline bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Wine's serial driver differs from Windows' in a few documented ways; a test of such a
// behaviour names the difference and is skipped only there.
#define PZ_SKIP_UNDER_WINE(difference)                                          \
  do {                                                                          \
    if (::winapi_test::RunningUnderWine()) GTEST_SKIP() << "Wine: " difference; \
  } while (false)

inline HANDLE OpenRealPort(const std::string& name) {
  const std::string path = "\\\\.\\" + name;
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace winapi_test
