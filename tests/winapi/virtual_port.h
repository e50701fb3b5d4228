// A virtual line with the port side open for overlapped I/O, as the component opens a port.
#pragma once

#include "winapi/virtual_line.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace winapi_test {

inline std::string UniqueLineName() {
  static std::atomic<int> next{1};
  return "VLTEST" + std::to_string(next++);
}

inline std::string DevicePath(const std::string& name) {
  return "\\\\.\\" + name;
}

inline HANDLE OpenPort(const std::string& name, DWORD flags = FILE_FLAG_OVERLAPPED) {
  return winapi::CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, flags, nullptr);
}

// Generous: a slow, sanitized machine still completes well within it.
constexpr DWORD kLongWaitMs = 5000;

class VirtualPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = OpenPort(name);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << winapi::GetLastError();
    event = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
  }

  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) winapi::CloseHandle(port);
    if (event) winapi::CloseHandle(event);
  }

  void SetTimeouts(DWORD interval, DWORD readMultiplier, DWORD readConstant,
                   DWORD writeMultiplier = 0, DWORD writeConstant = 0) {
    COMMTIMEOUTS timeouts{interval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    ASSERT_TRUE(winapi::SetCommTimeouts(port, &timeouts));
  }

  OVERLAPPED NewOverlapped() const {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    return overlapped;
  }

  // Starts an overlapped read that must not complete at once.
  void StartPendingRead(void* buffer, DWORD count, OVERLAPPED& overlapped) {
    DWORD done = 0;
    ASSERT_FALSE(winapi::ReadFile(port, buffer, count, &done, &overlapped));
    ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }

  // Waits for the request's event, then takes its result without waiting again.
  BOOL Finish(OVERLAPPED& overlapped, DWORD& done) {
    if (winapi::WaitForSingleObject(overlapped.hEvent, kLongWaitMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "request did not complete";
      return FALSE;
    }
    return winapi::GetOverlappedResult(port, &overlapped, &done, FALSE);
  }

  bool IsIncomplete(OVERLAPPED& overlapped) {
    DWORD done = 0;
    return !winapi::GetOverlappedResult(port, &overlapped, &done, FALSE) &&
           winapi::GetLastError() == static_cast<DWORD>(ERROR_IO_INCOMPLETE);
  }

  COMSTAT Status(DWORD* errors = nullptr) {
    COMSTAT stat{};
    DWORD dummy = 0;
    EXPECT_TRUE(winapi::ClearCommError(port, errors ? errors : &dummy, &stat));
    return stat;
  }

  std::string name = UniqueLineName();
  std::shared_ptr<winapi::VirtualLine> line = winapi::VirtualLine::Create(name);
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

}  // namespace winapi_test
