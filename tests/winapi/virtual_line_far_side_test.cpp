// What a far side served by its own thread (an emulated device) learns of the port.
#include "virtual_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace winapi_test {
namespace {

using std::chrono::steady_clock;

constexpr auto kLong = std::chrono::milliseconds(kLongWaitMs);

TEST(VirtualLineFarSide, CommStateIsTheLastDcbThePortHandedOver) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  EXPECT_EQ(line->CommState().BaudRate, 0u);
  HANDLE port = OpenPort(name);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  for (DWORD rate : {19200u, 57600u}) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = rate;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(winapi::SetCommState(port, &dcb));
    EXPECT_EQ(line->CommState().BaudRate, rate);
    EXPECT_EQ(line->CommState().ByteSize, 7);
    EXPECT_EQ(line->CommState().Parity, EVENPARITY);
  }
  winapi::CloseHandle(port);
}

TEST(VirtualLineFarSide, ActivityGrowsWithOpenSendConfigureAndClose) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  std::uint64_t seen = line->Activity();
  auto grew = [&] {
    const std::uint64_t now = line->Activity();
    const bool changed = now != seen;
    seen = now;
    return changed;
  };
  HANDLE port = OpenPort(name, 0);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(grew());
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  EXPECT_TRUE(grew());
  const std::uint8_t byte = 0x55;
  DWORD written = 0;
  ASSERT_TRUE(winapi::WriteFile(port, &byte, 1, &written, nullptr));
  EXPECT_TRUE(grew());
  winapi::CloseHandle(port);
  EXPECT_TRUE(grew());
  line->Notify();
  EXPECT_TRUE(grew());
}

TEST(VirtualLineFarSide, WaitActivityReturnsWhenThePortSends) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  HANDLE port = OpenPort(name, 0);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  const std::uint64_t seen = line->Activity();
  std::thread sender([&] {
    const std::uint8_t byte = 0xF0;
    DWORD written = 0;
    winapi::WriteFile(port, &byte, 1, &written, nullptr);
  });
  const std::uint64_t now = line->WaitActivity(seen, steady_clock::now() + kLong);
  sender.join();
  EXPECT_EQ(line->TakeSent(), std::vector<std::uint8_t>{0xF0});
  EXPECT_NE(now, seen);
  winapi::CloseHandle(port);
}

TEST(VirtualLineFarSide, WaitActivityWithNothingHappeningEndsAtTheDeadline) {
  auto line = winapi::VirtualLine::Create(UniqueLineName());
  const std::uint64_t seen = line->Activity();
  EXPECT_EQ(line->WaitActivity(seen, steady_clock::now() + std::chrono::milliseconds(20)), seen);
  // A value already different returns at once, whatever the deadline.
  line->Notify();
  EXPECT_EQ(line->WaitActivity(seen, steady_clock::now() + std::chrono::hours(1)), seen + 1);
}

}  // namespace
}  // namespace winapi_test
