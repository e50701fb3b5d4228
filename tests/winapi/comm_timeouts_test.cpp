// The read and write time-out rules of a Windows serial driver, on a virtual line.
#include "virtual_port.h"

#include <thread>

namespace {

using winapi_test::VirtualPortTest;

using CommTimeouts = VirtualPortTest;
using Bytes = std::vector<std::uint8_t>;

TEST_F(CommTimeouts, MaxdwordIntervalAloneReturnsAtOnceWithWhatIsQueued) {
  SetTimeouts(MAXDWORD, 0, 0);
  BYTE buffer[8] = {};
  DWORD done = 99;
  OVERLAPPED overlapped = NewOverlapped();
  ASSERT_TRUE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
  EXPECT_EQ(done, 0u);

  line->Inject({0x10, 0x20, 0x30});
  ASSERT_TRUE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(Bytes(buffer, buffer + done), (Bytes{0x10, 0x20, 0x30}));
  // The event tells of the completion too.
  EXPECT_EQ(winapi::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
}

TEST_F(CommTimeouts, MaxdwordMultiplierReturnsWithTheFirstBytes) {
  SetTimeouts(MAXDWORD, MAXDWORD, 600000);
  BYTE buffer[8] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  EXPECT_TRUE(IsIncomplete(overlapped));
  line->Inject({1, 2});
  // Complete as the bytes arrive: long before the ten-minute constant.
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 2u);

  line->Inject({3});
  ASSERT_TRUE(winapi::ReadFile(port, buffer, sizeof buffer, &done, &overlapped));
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(buffer[0], 3);
}

TEST_F(CommTimeouts, MaxdwordMultiplierTimesOutWithNothing) {
  SetTimeouts(MAXDWORD, MAXDWORD, 30);
  BYTE buffer[4];
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  DWORD done = 99;
  ASSERT_TRUE(Finish(overlapped, done));  // a time-out is a success with fewer bytes
  EXPECT_EQ(done, 0u);
}

TEST_F(CommTimeouts, AllZeroWaitsForTheFullCount) {
  SetTimeouts(0, 0, 0);
  BYTE buffer[4] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  line->Inject({1, 2, 3});
  EXPECT_TRUE(IsIncomplete(overlapped));
  line->Inject({4, 5});
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(Status().cbInQue, 1u);
}

TEST_F(CommTimeouts, TotalTimeoutEndsWithTheBytesSoFar) {
  SetTimeouts(0, 1, 40);
  BYTE buffer[6] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  line->Inject({9, 8});
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{9, 8}));
}

TEST_F(CommTimeouts, IntervalTimeoutStartsWithTheFirstByte) {
  SetTimeouts(20, 0, 0);
  BYTE buffer[10] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  // Without a first byte there is no deadline at all.
  ASSERT_EQ(winapi::WaitForSingleObject(event, 60), WAIT_TIMEOUT);
  EXPECT_TRUE(IsIncomplete(overlapped));
  line->Inject({5, 6, 7});
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 3u);
}

TEST_F(CommTimeouts, ReadsQueueAndCompleteInOrder) {
  SetTimeouts(0, 0, 0);
  HANDLE secondEvent = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  BYTE first[2] = {}, second[2] = {};
  OVERLAPPED a = NewOverlapped();
  OVERLAPPED b{};
  b.hEvent = secondEvent;
  StartPendingRead(first, 2, a);
  DWORD done = 0;
  ASSERT_FALSE(winapi::ReadFile(port, second, 2, &done, &b));
  line->Inject({1, 2, 3, 4});
  ASSERT_TRUE(Finish(a, done));
  ASSERT_EQ(winapi::WaitForSingleObject(secondEvent, winapi_test::kLongWaitMs), WAIT_OBJECT_0);
  ASSERT_TRUE(winapi::GetOverlappedResult(port, &b, &done, FALSE));
  EXPECT_EQ(Bytes(first, first + 2), (Bytes{1, 2}));
  EXPECT_EQ(Bytes(second, second + 2), (Bytes{3, 4}));
  winapi::CloseHandle(secondEvent);
}

TEST_F(CommTimeouts, GetOverlappedResultWaitsWhenAsked) {
  SetTimeouts(0, 0, 0);
  BYTE buffer[3] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  DWORD done = 0;
  EXPECT_TRUE(IsIncomplete(overlapped));
  std::thread feeder([&] { line->Inject({1, 2, 3}); });
  EXPECT_TRUE(winapi::GetOverlappedResult(port, &overlapped, &done, TRUE));
  EXPECT_EQ(done, 3u);
  feeder.join();
}

TEST_F(CommTimeouts, WriteCompletesWhenTheLineTakesTheBytes) {
  SetTimeouts(0, 0, 0, 0, 0);
  line->HoldTransmission(true);
  const BYTE data[] = {1, 2, 3, 4, 5};
  OVERLAPPED overlapped = NewOverlapped();
  DWORD done = 0;
  ASSERT_FALSE(winapi::WriteFile(port, data, sizeof data, &done, &overlapped));
  ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_TRUE(IsIncomplete(overlapped));
  EXPECT_EQ(Status().cbOutQue, 5u);
  line->HoldTransmission(false);
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(line->TakeSent(), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(Status().cbOutQue, 0u);
}

TEST_F(CommTimeouts, WriteTimeoutSucceedsWithFewerBytes) {
  SetTimeouts(0, 0, 0, 2, 20);
  line->HoldTransmission(true);
  const BYTE data[] = {1, 2, 3};
  OVERLAPPED overlapped = NewOverlapped();
  DWORD done = 99;
  ASSERT_FALSE(winapi::WriteFile(port, data, sizeof data, &done, &overlapped));
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 0u);
  line->HoldTransmission(false);
  EXPECT_TRUE(line->TakeSent().empty());
}

TEST_F(CommTimeouts, CtsFlowControlHoldsTransmissionUntilCtsComesOn) {
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  const BYTE data[] = {0x55};
  OVERLAPPED overlapped = NewOverlapped();
  DWORD done = 0;
  ASSERT_FALSE(winapi::WriteFile(port, data, 1, &done, &overlapped));
  EXPECT_TRUE(Status().fCtsHold);
  line->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 1u);
  EXPECT_FALSE(Status().fCtsHold);
}

}  // namespace
