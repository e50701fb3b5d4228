// The Windows serial calls on a real pair of ports wired to each other.
#include "real_port_support.h"

#include <array>
#include <chrono>
#include <string>

namespace winapi_test {
namespace {

constexpr DWORD kLongWaitMs = 10000;

class RealPortPair : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto pair = PortPairFromEnvironment();
    if (!pair) GTEST_SKIP() << "PZ_TEST_PORT_PAIR names no pair of linked ports";
    names = *pair;
    a = OpenRealPort(names.first);
    ASSERT_NE(a, INVALID_HANDLE_VALUE) << names.first << ": error " << GetLastError();
    b = OpenRealPort(names.second);
    ASSERT_NE(b, INVALID_HANDLE_VALUE) << names.second << ": error " << GetLastError();
    for (HANDLE port : {a, b}) {
      DCB dcb{};
      dcb.DCBlength = sizeof dcb;
      ASSERT_TRUE(GetCommState(port, &dcb)) << GetLastError();
      dcb.BaudRate = CBR_19200;
      dcb.ByteSize = 8;
      dcb.Parity = NOPARITY;
      dcb.StopBits = ONESTOPBIT;
      dcb.fBinary = TRUE;
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fOutX = FALSE;
      dcb.fInX = FALSE;
      dcb.fDtrControl = DTR_CONTROL_ENABLE;
      dcb.fRtsControl = RTS_CONTROL_ENABLE;
      ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
      ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) << GetLastError();
    }
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }

  void TearDown() override {
    if (event) CloseHandle(event);
    if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
  }

  void SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
  }

  // One overlapped write, waited for.
  void Send(HANDLE port, const std::string& bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD written = 0;
    if (!WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &overlapped)) {
      ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
      ASSERT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
      ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &written, FALSE)) << GetLastError();
    }
    EXPECT_EQ(written, bytes.size());
  }

  // Reads until `count` bytes came or a read returns none.
  std::string Receive(HANDLE port, std::size_t count) {
    SetReadTimeouts(port, 0, 0, 2000);
    std::string received;
    while (received.size() < count) {
      std::array<char, 64> buffer{};
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      ResetEvent(event);
      DWORD got = 0;
      const DWORD wanted = static_cast<DWORD>(count - received.size());
      if (!ReadFile(port, buffer.data(), wanted, &got, &overlapped)) {
        EXPECT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
        EXPECT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
        GetOverlappedResult(port, &overlapped, &got, FALSE);
      }
      if (got == 0) break;
      received.append(buffer.data(), got);
    }
    return received;
  }

  DWORD QueuedBytes(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    EXPECT_TRUE(ClearCommError(port, &errors, &status)) << GetLastError();
    return status.cbInQue;
  }

  std::pair<std::string, std::string> names;
  HANDLE a = INVALID_HANDLE_VALUE;
  HANDLE b = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

TEST_F(RealPortPair, LineSettingsAreKeptAndTheModemLinesCanBeRead) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(a, &dcb));
  EXPECT_EQ(dcb.BaudRate, DWORD{CBR_19200});
  EXPECT_EQ(dcb.ByteSize, 8);
  DWORD lines = 0xFFFFFFFF;
  ASSERT_TRUE(GetCommModemStatus(a, &lines)) << GetLastError();
  EXPECT_EQ(lines & ~DWORD{MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON}, 0u);
}

TEST_F(RealPortPair, BytesTravelBothWays) {
  Send(a, "\xF0\xF0");
  EXPECT_EQ(Receive(b, 2), "\xF0\xF0");
  Send(b, std::string("\x02\x12\x07\x17", 4));
  EXPECT_EQ(Receive(a, 4), std::string("\x02\x12\x07\x17", 4));
}

TEST_F(RealPortPair, ReceiveEventCompletesAPendingWaitAndTheQueueCountsTheBytes) {
  ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD mask = 0;
  if (!WaitCommEvent(b, &mask, &overlapped)) {
    ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    // Nothing has been sent: the wait is still pending.
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD{WAIT_TIMEOUT});
    // Sent from here: the wait above only completes through the line.
    HANDLE sender = a;
    const std::string bytes = "abc";
    DWORD written = 0;
    OVERLAPPED write{};
    write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!WriteFile(sender, bytes.data(), 3, &written, &write)) {
      ASSERT_EQ(WaitForSingleObject(write.hEvent, kLongWaitMs), WAIT_OBJECT_0);
    }
    CloseHandle(write.hEvent);
    ASSERT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
    DWORD ignored = 0;
    ASSERT_TRUE(GetOverlappedResult(b, &overlapped, &ignored, FALSE)) << GetLastError();
  }
  EXPECT_TRUE(mask & EV_RXCHAR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (QueuedBytes(b) < 3 && std::chrono::steady_clock::now() < deadline) Sleep(1);
  EXPECT_EQ(QueuedBytes(b), 3u);
  ASSERT_TRUE(PurgeComm(b, PURGE_RXCLEAR));
  EXPECT_EQ(QueuedBytes(b), 0u);
}

TEST_F(RealPortPair, ReadWithAnEmptyQueueAndImmediateTimeoutsReturnsNothingAtOnce) {
  PZ_SKIP_UNDER_WINE("an overlapped read with an empty queue stays pending instead of returning 0");
  SetReadTimeouts(b, MAXDWORD, 0, 0);
  std::array<char, 4> buffer{};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD got = 99;
  if (!ReadFile(b, buffer.data(), 4, &got, &overlapped)) {
    ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    ASSERT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(b, &overlapped, &got, FALSE));
  }
  EXPECT_EQ(got, 0u);
}

TEST_F(RealPortPair, SecondOpenOfAPortIsRefused) {
  PZ_SKIP_UNDER_WINE("a second open of a port is not refused");
  const HANDLE again = OpenRealPort(names.first);
  EXPECT_EQ(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

TEST_F(RealPortPair, ReadTimeOutEndsTheReadWithTheBytesThatCame) {
  PZ_SKIP_UNDER_WINE("read time-outs end with error 1460");
  SetReadTimeouts(b, 0, 0, 300);
  Send(a, "xy");
  std::array<char, 10> buffer{};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD got = 0;
  if (!ReadFile(b, buffer.data(), 10, &got, &overlapped)) {
    ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    ASSERT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(b, &overlapped, &got, FALSE)) << GetLastError();
  }
  EXPECT_EQ(std::string(buffer.data(), got), "xy");
}

TEST_F(RealPortPair, ClearingTheMaskCompletesAPendingWaitWithNoEvents) {
  PZ_SKIP_UNDER_WINE("a wait completed by SetCommMask(0) reports 995");
  ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD mask = 0xFFFF;
  ASSERT_FALSE(WaitCommEvent(b, &mask, &overlapped));
  ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
  ASSERT_TRUE(SetCommMask(b, 0));
  ASSERT_EQ(WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  DWORD ignored = 0;
  EXPECT_TRUE(GetOverlappedResult(b, &overlapped, &ignored, FALSE)) << GetLastError();
  EXPECT_EQ(mask, 0u);
}

}  // namespace
}  // namespace winapi_test
