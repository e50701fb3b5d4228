// The PC's side of an emulated device for tests: a port opened through the Windows calls
// (a virtual line's name or a device path), blocking reads with a time limit.
#pragma once

#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace device_test {

// Generous limits: a slow, sanitized machine still answers well within them.
constexpr std::chrono::milliseconds kLongWait{5000};

class DevicePort {
 public:
  DevicePort(const std::string& name, DWORD rate) {
    handle_ = winapi::CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      ADD_FAILURE() << "cannot open " << name << ": error " << winapi::GetLastError();
      return;
    }
    SetRate(rate);
    // A read returns as soon as one byte is there, or after 200 ms without any.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 200, 0, 0};
    EXPECT_TRUE(winapi::SetCommTimeouts(handle_, &timeouts));
  }
  ~DevicePort() { Close(); }
  DevicePort(const DevicePort&) = delete;
  DevicePort& operator=(const DevicePort&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) winapi::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  void SetRate(DWORD rate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = rate;
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    EXPECT_TRUE(winapi::SetCommState(handle_, &dcb)) << winapi::GetLastError();
  }

  // Sends the bytes one write each, as the configurator does.
  void Send(const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) {
      DWORD written = 0;
      ASSERT_TRUE(winapi::WriteFile(handle_, &b, 1, &written, nullptr));
      ASSERT_EQ(written, 1u);
    }
  }

  // Collects received bytes until `count` are there or `limit` passes.
  std::vector<std::uint8_t> Receive(std::size_t count,
                                    std::chrono::milliseconds limit = kLongWait) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      std::uint8_t buffer[64];
      DWORD got = 0;
      const DWORD want =
          static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, count - bytes.size()));
      if (!winapi::ReadFile(handle_, buffer, want, &got, nullptr)) {
        ADD_FAILURE() << "ReadFile failed: " << winapi::GetLastError();
        break;
      }
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

  // The error of writing one byte (0 when it succeeds).
  DWORD WriteError(std::uint8_t b) {
    DWORD written = 0;
    return winapi::WriteFile(handle_, &b, 1, &written, nullptr) ? 0 : winapi::GetLastError();
  }

  // The error of one read (0 when it succeeds, with or without a byte).
  DWORD ReadError() {
    std::uint8_t byte = 0;
    DWORD got = 0;
    return winapi::ReadFile(handle_, &byte, 1, &got, nullptr) ? 0 : winapi::GetLastError();
  }

  // A request and its reply of `replyLength` bytes.
  std::vector<std::uint8_t> Ask(const std::vector<std::uint8_t>& request,
                                std::size_t replyLength = 4) {
    Send(request);
    return Receive(replyLength);
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

inline std::vector<std::uint8_t> WithChecksum(std::vector<std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum ^= b;
  bytes.push_back(sum);
  return bytes;
}

inline std::vector<std::uint8_t> ReadRequest(std::uint8_t n) {
  return WithChecksum({0xF2, n, 0xFF});
}
inline std::vector<std::uint8_t> WriteRequest(std::uint8_t n, std::uint8_t value) {
  return WithChecksum({0xF2, n, value});
}
inline const std::vector<std::uint8_t> kVersionRequest{0xF0, 0xF0};

// Polls `condition` until it holds or `limit` passes; for waits on another thread.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = kLongWait) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace device_test
