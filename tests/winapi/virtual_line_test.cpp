// Opening, configuring and losing virtual lines through the Windows calls.
#include "virtual_port.h"

#include <cstring>
#include <thread>

namespace {

using winapi::DriverCall;
using winapi_test::DevicePath;
using winapi_test::kLongWaitMs;
using winapi_test::OpenPort;
using winapi_test::UniqueLineName;
using winapi_test::VirtualPortTest;

DWORD LastError() {
  return winapi::GetLastError();
}

TEST(VirtualLineOpen, UnknownNameIsFileNotFound) {
  EXPECT_EQ(OpenPort("NO_SUCH_LINE_" + UniqueLineName()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(VirtualLineOpen, IsExclusiveAndFreeAgainAfterClose) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  HANDLE first = OpenPort(name);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(line->IsOpen());
  EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ASSERT_TRUE(winapi::CloseHandle(first));
  EXPECT_TRUE(line->WaitOpen(false, std::chrono::seconds(5)));
  EXPECT_FALSE(winapi::CloseHandle(first));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DCB dcb{};
  EXPECT_FALSE(winapi::GetCommState(first, &dcb));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Port names are not case-sensitive.
  HANDLE second = OpenPort(name.substr(0, 2) + "test" + name.substr(6));
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(line->OpenCount(), 2);
  winapi::CloseHandle(second);
}

TEST(VirtualLineOpen, NameIsFreeWhenTheFarSideIsGone) {
  const std::string name = UniqueLineName();
  winapi::VirtualLine::Create(name).reset();
  EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  auto again = winapi::VirtualLine::Create(name);
  EXPECT_THROW(winapi::VirtualLine::Create(name), std::invalid_argument);
}

TEST_F(VirtualPortTest, DcbComesBackExactlyAsHandedOver) {
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.EvtChar = 0x7E;
  dcb.XonLim = 123;
  dcb.XoffLim = 45;
  dcb.wReserved1 = 0x5A5A;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  DCB back{};
  ASSERT_TRUE(winapi::GetCommState(port, &back));
  EXPECT_EQ(std::memcmp(&dcb, &back, sizeof(DCB)), 0);
}

TEST_F(VirtualPortTest, DcbTheLineCannotTakeIsRefusedAndNotKept) {
  DCB good{};
  ASSERT_TRUE(winapi::GetCommState(port, &good));
  for (auto spoil : {+[](DCB& d) { d.ByteSize = 9; }, +[](DCB& d) { d.BaudRate = 0; },
                     +[](DCB& d) { d.Parity = 7; }, +[](DCB& d) { d.StopBits = ONE5STOPBITS; },
                     +[](DCB& d) {
                       d.fOutX = 1;
                       d.XonChar = d.XoffChar;
                     }}) {
    DCB bad = good;
    spoil(bad);
    EXPECT_FALSE(winapi::SetCommState(port, &bad));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  DCB back{};
  ASSERT_TRUE(winapi::GetCommState(port, &back));
  EXPECT_EQ(std::memcmp(&good, &back, sizeof(DCB)), 0);
}

TEST_F(VirtualPortTest, RecordsTheConfigurationInOrder) {
  line->ClearRecords();
  ASSERT_TRUE(winapi::SetupComm(port, 1024, 512));
  DCB dcb{};
  winapi::GetCommState(port, &dcb);
  dcb.BaudRate = 57600;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  SetTimeouts(MAXDWORD, 0, 0, 1, 100);
  ASSERT_TRUE(winapi::SetCommMask(port, EV_RXCHAR | EV_ERR));
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));

  const auto records = line->Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].call, DriverCall::SetupComm);
  EXPECT_EQ(records[0].inQueue, 1024u);
  EXPECT_EQ(records[0].outQueue, 512u);
  EXPECT_EQ(records[1].call, DriverCall::SetCommState);
  EXPECT_EQ(records[1].dcb.BaudRate, 57600u);
  EXPECT_EQ(records[2].call, DriverCall::SetCommTimeouts);
  EXPECT_EQ(records[2].timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(records[2].timeouts.WriteTotalTimeoutConstant, 100u);
  EXPECT_EQ(records[3].call, DriverCall::SetCommMask);
  EXPECT_EQ(records[3].mask, static_cast<DWORD>(EV_RXCHAR | EV_ERR));
  EXPECT_EQ(records[4].call, DriverCall::PurgeComm);
  EXPECT_EQ(records[4].purgeFlags, static_cast<DWORD>(PURGE_RXCLEAR | PURGE_TXCLEAR));
}

TEST_F(VirtualPortTest, TimeoutsComeBackAndTheImpossibleOneIsRefused) {
  SetTimeouts(10, 20, 30, 40, 50);
  COMMTIMEOUTS back{};
  ASSERT_TRUE(winapi::GetCommTimeouts(port, &back));
  EXPECT_EQ(back.ReadIntervalTimeout, 10u);
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 50u);
  COMMTIMEOUTS bad{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_FALSE(winapi::SetCommTimeouts(port, &bad));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(VirtualPortTest, ChosenCallsFailWithTheChosenError) {
  line->FailCall(DriverCall::SetCommState, ERROR_GEN_FAILURE, 1);
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  EXPECT_FALSE(winapi::SetCommState(port, &dcb));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_TRUE(winapi::SetCommState(port, &dcb));  // only once

  line->FailCall(DriverCall::WriteFile, ERROR_WRITE_FAULT);
  OVERLAPPED overlapped = NewOverlapped();
  DWORD done = 0;
  const BYTE byte = 1;
  EXPECT_FALSE(winapi::WriteFile(port, &byte, 1, &done, &overlapped));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_FALSE(winapi::WriteFile(port, &byte, 1, &done, &overlapped));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  line->ClearFailures();
  EXPECT_TRUE(winapi::WriteFile(port, &byte, 1, &done, &overlapped));

  line->FailCall(DriverCall::ClearCommError, ERROR_ACCESS_DENIED, 1);
  DWORD errors = 0;
  EXPECT_FALSE(winapi::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(VirtualLineFailures, OpeningCanFail) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  line->FailCall(DriverCall::CreateFile, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE port = OpenPort(name);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  winapi::CloseHandle(port);
}

TEST_F(VirtualPortTest, DeviceGoingAwayEndsPendingRequestsAndFailsLaterOnes) {
  ASSERT_TRUE(winapi::SetCommMask(port, EV_RXCHAR));
  HANDLE waitEvent = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED waitOverlapped{};
  waitOverlapped.hEvent = waitEvent;
  DWORD mask = 0;
  ASSERT_FALSE(winapi::WaitCommEvent(port, &mask, &waitOverlapped));
  ASSERT_EQ(LastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  BYTE buffer[4];
  OVERLAPPED readOverlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, readOverlapped);

  line->Disconnect();
  DWORD done = 0;
  EXPECT_FALSE(Finish(readOverlapped, done));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  ASSERT_EQ(winapi::WaitForSingleObject(waitEvent, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_FALSE(winapi::GetOverlappedResult(port, &waitOverlapped, &done, FALSE));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  winapi::CloseHandle(waitEvent);

  EXPECT_FALSE(winapi::WriteFile(port, buffer, 1, &done, &readOverlapped));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  DWORD errors = 0;
  EXPECT_FALSE(winapi::ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  line->Reconnect();
  // The old handle stays dead, as with an unplugged adapter; a new one works.
  EXPECT_FALSE(winapi::PurgeComm(port, PURGE_RXCLEAR));
  HANDLE fresh = OpenPort(name);
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  line->Inject({7});
  COMSTAT stat{};
  ASSERT_TRUE(winapi::ClearCommError(fresh, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 1u);
  EXPECT_TRUE(winapi::CloseHandle(fresh));
  EXPECT_TRUE(winapi::CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
}

TEST(VirtualLineGone, BlockingReadOnAnotherThreadReturnsWhenTheDeviceGoes) {
  const std::string name = UniqueLineName();
  auto line = winapi::VirtualLine::Create(name);
  HANDLE port = OpenPort(name, 0);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  BOOL result = TRUE;
  DWORD error = 0;
  std::thread reader([&] {
    BYTE buffer[8];
    DWORD done = 0;
    result = winapi::ReadFile(port, buffer, sizeof buffer, &done, nullptr);
    error = winapi::GetLastError();
  });
  // Once the reader is blocked (or about to), the line goes away under it.
  line->Inject({1, 2});
  line.reset();
  reader.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(winapi::CloseHandle(port));
}

TEST_F(VirtualPortTest, ClosingEndsPendingRequests) {
  BYTE buffer[4];
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  ASSERT_TRUE(winapi::CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
  EXPECT_EQ(winapi::WaitForSingleObject(event, kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(HasOverlappedIoCompleted(&overlapped));
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(VirtualPortTest, SynchronousCallsOnAnOverlappedHandleStillWork) {
  SetTimeouts(MAXDWORD, 0, 0);
  line->Inject({1, 2, 3});
  BYTE buffer[8];
  DWORD done = 0;
  ASSERT_TRUE(winapi::ReadFile(port, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 3u);
  ASSERT_TRUE(winapi::WriteFile(port, buffer, 3, &done, nullptr));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(line->ReadSent(3, std::chrono::seconds(5)), (std::vector<std::uint8_t>{1, 2, 3}));
}

}  // namespace

namespace {

using RecordedCalls = winapi_test::VirtualPortTest;

TEST_F(RecordedCalls, RefusedCallsAreRecordedAsHandedOver) {
  line->ClearRecords();
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.ByteSize = 4;
  EXPECT_FALSE(winapi::SetCommState(port, &dcb));
  line->FailCall(winapi::DriverCall::SetCommMask, ERROR_GEN_FAILURE, 1);
  EXPECT_FALSE(winapi::SetCommMask(port, EV_RXCHAR));
  const auto records = line->Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].dcb.ByteSize, 4);
  EXPECT_EQ(records[1].mask, static_cast<DWORD>(EV_RXCHAR));
}

}  // namespace
