// The Windows serial calls on a real pseudo-terminal: the terminal back end under the
// driver model, as the component uses it on Linux.
#include "terminal_test_pty.h"

#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace winapi {
namespace {

using testing::PtyPeer;
using testing::WaitFor;

constexpr DWORD kLongWaitMs = 10000;

HANDLE OpenPort(const std::string& name) {
  return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

DWORD PortOpenError(const std::string& name) {
  const HANDLE port = OpenPort(name);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE) << name;
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  return GetLastError();
}

class TerminalPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = OpenPort(peer_.SlavePath());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event_, nullptr);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port_, &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    if (event_) CloseHandle(event_);
  }
  OVERLAPPED Overlapped() {
    ResetEvent(event_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    return overlapped;
  }

  PtyPeer peer_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
};

TEST_F(TerminalPortTest, OpenIsExclusiveAndNamesAreChecked) {
  EXPECT_EQ(PortOpenError(peer_.SlavePath()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(PortOpenError("/dev/null"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(PortOpenError("/dev/no-such-serial-port"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(CloseHandle(port_));
  port_ = OpenPort(peer_.SlavePath());
  EXPECT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
}

TEST_F(TerminalPortTest, LineSettingsReachTheTerminalAndTheDcbIsKept) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.BaudRate = 31250;
  dcb.fOutX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  const termios2 settings = peer_.Settings();
  EXPECT_EQ(settings.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(settings.c_ospeed, 31250u);
  EXPECT_TRUE(settings.c_iflag & IXON);
  DCB kept{};
  ASSERT_TRUE(GetCommState(port_, &kept));
  EXPECT_EQ(kept.BaudRate, 31250u);
  EXPECT_EQ(kept.fOutX, 1u);

  DCB refused = dcb;
  refused.fDtrControl = DTR_CONTROL_HANDSHAKE;
  EXPECT_FALSE(SetCommState(port_, &refused));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(GetCommState(port_, &kept));
  EXPECT_EQ(kept.fDtrControl, dcb.fDtrControl);
  EXPECT_EQ(peer_.Settings().c_ospeed, 31250u);
}

TEST_F(TerminalPortTest, NoModemLinesOnAPty) {
  DWORD status = 0xFFFF;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, 0u);
}

TEST_F(TerminalPortTest, OverlappedTransferBothWays) {
  const std::vector<std::uint8_t> out{0xF0, 0xF0, 0x00};
  OVERLAPPED write = Overlapped();
  DWORD written = 0;
  if (!WriteFile(port_, out.data(), static_cast<DWORD>(out.size()), &written, &write)) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(GetOverlappedResult(port_, &write, &written, TRUE));
  }
  EXPECT_EQ(written, out.size());
  EXPECT_EQ(peer_.Receive(out.size()), out);

  COMMTIMEOUTS timeouts{0, 0, kLongWaitMs, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
  std::uint8_t in[4] = {};
  OVERLAPPED read = Overlapped();
  DWORD got = 0;
  ASSERT_FALSE(ReadFile(port_, in, sizeof in, &got, &read));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  peer_.Send({0x02, 0x11});
  peer_.Send({0x22, 0x33});
  ASSERT_TRUE(GetOverlappedResult(port_, &read, &got, TRUE)) << GetLastError();
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(in, in + 4),
            (std::vector<std::uint8_t>{2, 0x11, 0x22, 0x33}));
}

TEST_F(TerminalPortTest, ReadTimeOutsHandOverWhatHasArrived) {
  peer_.Send({7, 8});
  COMSTAT stat{};
  DWORD errors = 0;
  ASSERT_TRUE(WaitFor([&] { return ClearCommError(port_, &errors, &stat) && stat.cbInQue == 2; }));

  // Total time-out: the read ends with the two bytes there are.
  COMMTIMEOUTS total{0, 0, 50, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &total));
  std::uint8_t in[4] = {};
  DWORD got = 0;
  OVERLAPPED read = Overlapped();
  if (!ReadFile(port_, in, sizeof in, &got, &read)) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(GetOverlappedResult(port_, &read, &got, TRUE));
  }
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(in[0], 7);
  EXPECT_EQ(in[1], 8);

  // MAXDWORD, 0, 0: return at once, with nothing.
  COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &atOnce));
  read = Overlapped();
  got = 99;
  ASSERT_TRUE(ReadFile(port_, in, sizeof in, &got, &read)) << GetLastError();
  EXPECT_EQ(got, 0u);
}

TEST_F(TerminalPortTest, ReceiveRaisesRxCharAndFillsTheQueue) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  DWORD mask = 0;
  OVERLAPPED wait = Overlapped();
  ASSERT_FALSE(WaitCommEvent(port_, &mask, &wait));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  peer_.Send({1, 2, 3});
  ASSERT_EQ(WaitForSingleObject(event_, kLongWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD done = 0;
  ASSERT_TRUE(GetOverlappedResult(port_, &wait, &done, FALSE));
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));

  COMSTAT stat{};
  DWORD errors = 0;
  ASSERT_TRUE(WaitFor([&] { return ClearCommError(port_, &errors, &stat) && stat.cbInQue == 3; }));
  ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR));
  ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(TerminalPortTest, TheFarSideGoingAwayFailsPendingAndLaterCalls) {
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};  // wait for the bytes without limit
  ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
  std::uint8_t in[8];
  OVERLAPPED read = Overlapped();
  DWORD got = 0;
  ASSERT_FALSE(ReadFile(port_, in, sizeof in, &got, &read));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  peer_.CloseMaster();
  ASSERT_EQ(WaitForSingleObject(event_, kLongWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(GetOverlappedResult(port_, &read, &got, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  const std::uint8_t byte = 0x55;
  DWORD written = 0;
  OVERLAPPED write = Overlapped();
  EXPECT_FALSE(WriteFile(port_, &byte, 1, &written, &write));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  DWORD mask = 0;
  OVERLAPPED wait = Overlapped();
  EXPECT_FALSE(WaitCommEvent(port_, &mask, &wait));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;
}

TEST(TerminalPortNameTest, ComNamesGoThroughThePortMap) {
  PtyPeer peer;
  const auto dir =
      std::filesystem::temp_directory_path() / ("pz-port-map-winapi-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::filesystem::create_symlink(peer.SlavePath(), dir / "COM42");
  const char* old = std::getenv("PZ_PORT_MAP_DIR");
  const std::string saved = old ? old : "";
  ::setenv("PZ_PORT_MAP_DIR", dir.c_str(), 1);

  const HANDLE port = OpenPort("COM42");
  EXPECT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(PortOpenError("COM43"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (port != INVALID_HANDLE_VALUE) {
    EXPECT_EQ(PortOpenError("com42"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(port);
  }

  if (old) {
    ::setenv("PZ_PORT_MAP_DIR", saved.c_str(), 1);
  } else {
    ::unsetenv("PZ_PORT_MAP_DIR");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace winapi
