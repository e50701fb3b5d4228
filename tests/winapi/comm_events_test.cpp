// The event mask, line status, purges and the receive queue of the driver model.
#include "virtual_port.h"

#include <numeric>

namespace {

using winapi_test::VirtualPortTest;

using Bytes = std::vector<std::uint8_t>;

class CommEvents : public VirtualPortTest {
 protected:
  // Starts a wait that must stay pending.
  void StartPendingWait(DWORD& mask, OVERLAPPED& overlapped) {
    ASSERT_FALSE(winapi::WaitCommEvent(port, &mask, &overlapped));
    ASSERT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }

  // The events that happened since the last wait: the history completes a wait at once.
  DWORD History() {
    DWORD mask = 0;
    OVERLAPPED overlapped = NewOverlapped();
    if (winapi::WaitCommEvent(port, &mask, &overlapped)) return mask;
    EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // Nothing happened: end the wait so that the next one may start.
    winapi::SetCommMask(port, mask_);
    DWORD done = 0;
    EXPECT_TRUE(Finish(overlapped, done));
    EXPECT_EQ(mask, 0u);
    return 0;
  }

  void Mask(DWORD mask) {
    mask_ = mask;
    ASSERT_TRUE(winapi::SetCommMask(port, mask));
  }

  DWORD mask_ = 0;
};

constexpr DWORD kAll = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK |
                       EV_ERR | EV_RING | EV_RX80FULL;

TEST_F(CommEvents, PendingWaitCompletesThroughItsEvent) {
  Mask(EV_RXCHAR);
  DWORD mask = 0;
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingWait(mask, overlapped);
  EXPECT_TRUE(IsIncomplete(overlapped));
  line->Inject({0x41});
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
}

TEST_F(CommEvents, EventsWithoutAPendingWaitCompleteTheNextWaitAtOnce) {
  Mask(EV_RXCHAR | EV_TXEMPTY);
  line->Inject({1});
  const BYTE byte = 2;
  DWORD done = 0;
  OVERLAPPED overlapped = NewOverlapped();
  ASSERT_TRUE(winapi::WriteFile(port, &byte, 1, &done, &overlapped));
  EXPECT_EQ(History(), static_cast<DWORD>(EV_RXCHAR | EV_TXEMPTY));
  // The history was consumed.
  EXPECT_EQ(History(), 0u);
}

TEST_F(CommEvents, OnlyMaskedEventsAreReportedOrKept) {
  Mask(EV_CTS);
  line->Inject({1});
  EXPECT_EQ(History(), 0u);
  line->SetModemStatus(MS_CTS_ON);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_CTS));
}

TEST_F(CommEvents, NewMaskKeepsOnlyTheHistoryStillOfInterest) {
  Mask(EV_RXCHAR | EV_CTS);
  line->Inject({1});
  line->SetModemStatus(MS_CTS_ON);
  Mask(EV_CTS);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_CTS));
}

TEST_F(CommEvents, SetCommMaskEndsAPendingWaitWithNoEvents) {
  Mask(EV_RXCHAR);
  DWORD mask = 0xFFFF;
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingWait(mask, overlapped);
  ASSERT_TRUE(winapi::SetCommMask(port, EV_RXCHAR));
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(mask, 0u);
}

TEST_F(CommEvents, WaitIsRefusedWithoutAMaskOrWhileAnotherWaits) {
  DWORD mask = 0;
  OVERLAPPED overlapped = NewOverlapped();
  EXPECT_FALSE(winapi::WaitCommEvent(port, &mask, &overlapped));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Mask(EV_RXCHAR);
  StartPendingWait(mask, overlapped);
  DWORD second = 0;
  OVERLAPPED other{};
  EXPECT_FALSE(winapi::WaitCommEvent(port, &second, &other));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  Mask(EV_RXCHAR);  // ends the first wait before the OVERLAPPED goes out of scope
}

TEST_F(CommEvents, FlagCharacterRaisesRxFlag) {
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.EvtChar = 0x7E;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  Mask(kAll);
  line->Inject({0x01, 0x02});
  EXPECT_EQ(History(), static_cast<DWORD>(EV_RXCHAR));
  line->Inject({0x01, 0x7E});
  EXPECT_EQ(History(), static_cast<DWORD>(EV_RXCHAR | EV_RXFLAG));
}

TEST_F(CommEvents, ModemChangesRaiseTheirEventsAndRingOnlyWhenItComesOn) {
  Mask(kAll);
  line->SetModemStatus(MS_CTS_ON | MS_DSR_ON);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_CTS | EV_DSR));
  line->SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_RLSD | EV_RING));
  line->SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(History(), 0u);
  line->SetModemStatus(MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_CTS));
  DWORD status = 0;
  ASSERT_TRUE(winapi::GetCommModemStatus(port, &status));
  EXPECT_EQ(status, static_cast<DWORD>(MS_DSR_ON | MS_RLSD_ON));
}

TEST_F(CommEvents, LineErrorsAndBreaksAreReportedAndClearedByClearCommError) {
  Mask(kAll);
  line->RaiseLineErrors(CE_FRAME | CE_RXPARITY);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_ERR));
  line->RaiseBreak();
  EXPECT_EQ(History(), static_cast<DWORD>(EV_BREAK));
  line->RaiseLineErrors(CE_OVERRUN);
  EXPECT_EQ(History(), static_cast<DWORD>(EV_ERR));
  DWORD errors = 0;
  Status(&errors);
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME | CE_RXPARITY | CE_BREAK | CE_OVERRUN));
  Status(&errors);
  EXPECT_EQ(errors, 0u);
}

TEST_F(CommEvents, Rx80FullWhenTheQueueReachesFourFifths) {
  ASSERT_TRUE(winapi::SetupComm(port, 100, 100));
  Mask(EV_RX80FULL);
  line->Inject(Bytes(79, 0x33));
  EXPECT_EQ(History(), 0u);
  line->Inject({0x33});
  EXPECT_EQ(History(), static_cast<DWORD>(EV_RX80FULL));
}

TEST_F(CommEvents, ReceiveQueueIsBoundedAndNothingIsDropped) {
  ASSERT_TRUE(winapi::SetupComm(port, 16, 16));
  SetTimeouts(MAXDWORD, 0, 0);
  Bytes sent(100);
  std::iota(sent.begin(), sent.end(), std::uint8_t{0});
  line->Inject(sent);
  EXPECT_EQ(Status().cbInQue, 16u);
  EXPECT_EQ(line->PendingReceive(), 84u);

  Bytes received;
  BYTE buffer[10];
  for (int round = 0; round < 20 && received.size() < sent.size(); ++round) {
    DWORD done = 0;
    ASSERT_TRUE(winapi::ReadFile(port, buffer, sizeof buffer, &done, nullptr));
    received.insert(received.end(), buffer, buffer + done);
  }
  EXPECT_EQ(received, sent);
  EXPECT_EQ(Status().cbInQue, 0u);
}

TEST_F(CommEvents, LargeReadTakesMoreThanTheQueueHolds) {
  ASSERT_TRUE(winapi::SetupComm(port, 8, 8));
  SetTimeouts(0, 0, 0);
  Bytes sent(50, 0x5A);
  BYTE buffer[50] = {};
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  line->InjectInBursts(sent, 7, std::chrono::milliseconds(1));
  DWORD done = 0;
  ASSERT_TRUE(Finish(overlapped, done));
  EXPECT_EQ(done, 50u);
  EXPECT_EQ(Bytes(buffer, buffer + 50), sent);
}

TEST_F(CommEvents, AbortPurgesEndPendingRequestsWithOperationAborted) {
  SetTimeouts(0, 0, 0);
  BYTE buffer[4];
  OVERLAPPED readOverlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, readOverlapped);
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_RXABORT));
  DWORD done = 0;
  EXPECT_FALSE(Finish(readOverlapped, done));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  line->HoldTransmission(true);
  HANDLE writeEvent = winapi::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED writeOverlapped{};
  writeOverlapped.hEvent = writeEvent;
  const BYTE data[] = {1, 2};
  ASSERT_FALSE(winapi::WriteFile(port, data, 2, &done, &writeOverlapped));
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR));
  ASSERT_EQ(winapi::WaitForSingleObject(writeEvent, winapi_test::kLongWaitMs), WAIT_OBJECT_0);
  EXPECT_FALSE(winapi::GetOverlappedResult(port, &writeOverlapped, &done, FALSE));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(Status().cbOutQue, 0u);
  winapi::CloseHandle(writeEvent);
}

TEST_F(CommEvents, ClearPurgesEmptyTheQueues) {
  line->Inject({1, 2, 3});
  EXPECT_EQ(Status().cbInQue, 3u);
  ASSERT_TRUE(winapi::PurgeComm(port, PURGE_RXCLEAR));
  EXPECT_EQ(Status().cbInQue, 0u);
  // The queue keeps working after the purge.
  line->Inject({4});
  EXPECT_EQ(Status().cbInQue, 1u);
  EXPECT_FALSE(winapi::PurgeComm(port, 0x100));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CommEvents, AbortOnErrorStopsTransfersUntilTheErrorIsCleared) {
  DCB dcb{};
  ASSERT_TRUE(winapi::GetCommState(port, &dcb));
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(winapi::SetCommState(port, &dcb));
  SetTimeouts(0, 0, 0);
  BYTE buffer[2];
  OVERLAPPED overlapped = NewOverlapped();
  StartPendingRead(buffer, sizeof buffer, overlapped);
  line->RaiseLineErrors(CE_FRAME);
  DWORD done = 0;
  EXPECT_FALSE(Finish(overlapped, done));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(winapi::ReadFile(port, buffer, 1, &done, &overlapped));
  EXPECT_EQ(winapi::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  DWORD errors = 0;
  Status(&errors);
  EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME));
  line->Inject({9});
  SetTimeouts(MAXDWORD, 0, 0);
  ASSERT_TRUE(winapi::ReadFile(port, buffer, 1, &done, &overlapped));
  EXPECT_EQ(done, 1u);
}

}  // namespace
