#include "comport/port.h"
#include "port_test_support.h"
#include "winapi/virtual_line.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

namespace comport {
namespace {

using testing::ExpectPortExtError;
using winapi::DriverCall;
using Log = std::vector<std::string>;
using namespace std::chrono_literals;

// Reads and writes on an open port; the observer sees them.
class Transfer : public testing::OpenPortWithoutEvents {};

TEST_F(Transfer, OneByteWrite) {
  const std::uint8_t byte = 0xF0;
  EXPECT_EQ(port.Write(&byte, 1), 1);
  EXPECT_EQ(log.Take(), (Log{"obs.Tx(1)", "obs.BytesSent(240)"}));
  EXPECT_EQ(line->ReadSent(1, 10s), std::vector<std::uint8_t>{0xF0});
}

TEST_F(Transfer, AWriteInFlightWhenAnObserverThrowsIsWaitedForBeforeItsRecordGoes) {
  PortObserver throwing;
  throwing.TxActivity = [](TObject*, bool) { throw std::runtime_error("observer failed"); };
  port.AddObserver(&throwing);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  line->HoldTransmission(true);
  const std::uint8_t byte = 7;
  EXPECT_THROW(port.Write(&byte, 1), std::runtime_error);
  port.RemoveObserver(&throwing);
  line->HoldTransmission(false);
  // Had the first record been freed while pending, the driver would now finish
  // that write into freed memory.
  EXPECT_EQ(port.Write(&byte, 1), 1);
  EXPECT_EQ(line->ReadSent(1, 10s), std::vector<std::uint8_t>{7});
}

TEST_F(Transfer, ZeroByteWrite) {
  const std::uint8_t byte = 1;
  EXPECT_EQ(port.Write(&byte, 0), 0);
  EXPECT_EQ(log.Take(), Log{"obs.Tx(1)"});
  EXPECT_TRUE(line->TakeSent().empty());
}

TEST_F(Transfer, NegativeWriteIsRefusedWithoutSending) {
  const std::uint8_t byte = 1;
  const EComPortExt error = ExpectPortExtError([&] { port.Write(&byte, -1); });
  EXPECT_EQ(error.ErrorCode(), 2);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(log.Take().empty());
  EXPECT_TRUE(line->TakeSent().empty());
}

TEST_F(Transfer, ReadOfAnEmptyQueueReturnsAtOnce) {
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1), 0);
  EXPECT_EQ(byte, 0xFF);
  EXPECT_EQ(log.Take(), Log{"obs.Rx(0)"});
}

TEST_F(Transfer, ReadsTakeWhatIsQueued) {
  InjectAndWait({10, 20, 30});
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1), 1);
  EXPECT_EQ(byte, 10);
  EXPECT_EQ(port.Read(&byte, 1), 1);
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(port.Read(&byte, 1), 1);
  EXPECT_EQ(byte, 30);
  EXPECT_EQ(log.Take(), Log{"obs.Rx(0)"});

  InjectAndWait({1, 2});
  std::array<std::uint8_t, 4> buffer = {9, 9, 9, 9};
  EXPECT_EQ(port.Read(buffer.data(), 4), 2);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 9, 9}));
}

TEST_F(Transfer, ReadWithNoRoomTouchesNothing) {
  InjectAndWait({5});
  std::uint8_t byte = 7;
  EXPECT_EQ(port.Read(&byte, 0), 0);
  EXPECT_EQ(port.Read(&byte, -3), 0);
  auto op = port.CreateAsyncOp();
  EXPECT_EQ(port.BeginRead(&byte, 0, op.get()), 0);
  port.DestroyAsyncOp(op);
  EXPECT_EQ(byte, 7);
  EXPECT_EQ(port.RxQueueCount(), 1);
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(Transfer, WriteHeldPastItsTimeoutsEndsShortWithoutError) {
  port.Timeouts().SetWriteTotalMultiplier(1);
  port.Timeouts().SetWriteTotalConstant(20);
  line->HoldTransmission(true);
  const std::array<std::uint8_t, 4> bytes = {1, 2, 3, 4};
  const std::int32_t sent = port.Write(bytes.data(), 4);
  EXPECT_LT(sent, 4);
  EXPECT_GE(sent, 0);
  // All the bytes handed over are reported, even those not sent.
  EXPECT_EQ(log.Take(), (Log{"obs.Tx(1)", "obs.BytesSent(1 2 3 4)"}));
}

TEST_F(Transfer, PendingRequestsEndWithAbortedWhenIoIsAborted) {
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(0);  // no time-out: waits for the line
  port.Timeouts().SetReadInterval(0);        // a read waits for its bytes
  line->HoldTransmission(true);
  const std::array<std::uint8_t, 2> bytes = {1, 2};
  auto write = port.CreateAsyncOp();
  EXPECT_EQ(port.BeginWrite(bytes.data(), 2, write.get()), 0);
  std::array<std::uint8_t, 4> in{};
  auto read = port.CreateAsyncOp();
  EXPECT_EQ(port.BeginRead(in.data(), 4, read.get()), 0);
  EXPECT_EQ(in[0], 0xFF);

  port.AbortPendingIO();
  EComPortExt error = ExpectPortExtError([&] { port.WaitAsync(write.get()); });
  EXPECT_EQ(error.ErrorCode(), 2);
  EXPECT_EQ(error.Message(), "COM Port Error: WriteFile function failed on " + line->Name());
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  error = ExpectPortExtError([&] { port.WaitAsync(read.get()); });
  EXPECT_EQ(error.ErrorCode(), 3);
  EXPECT_EQ(error.Message(), "COM Port Error: ReadFile function failed on " + line->Name());
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  port.DestroyAsyncOp(write);
  port.DestroyAsyncOp(read);
  EXPECT_EQ(write, nullptr);
  EXPECT_EQ(log.Take(), Log{"obs.Tx(1)"});
}

TEST_F(Transfer, OverlappedStepsByHand) {
  auto op = port.CreateAsyncOp();
  ASSERT_NE(op->IoRequest.hEvent, nullptr);
  EXPECT_EQ(op->SentCopy, nullptr);
  EXPECT_EQ(op->SentCopyLength, 0);
  std::array<std::uint8_t, 3> bytes = {7, 8, 9};
  port.BeginWrite(bytes.data(), 3, op.get());
  EXPECT_EQ(op->Direction, adWrite);
  EXPECT_EQ(op->SentCopyLength, 3);
  EXPECT_EQ(port.WaitAsync(op.get()), 3);
  EXPECT_EQ(line->ReadSent(3, 10s), (std::vector<std::uint8_t>{7, 8, 9}));

  // The same record read from next; the earlier write is not reported again.
  InjectAndWait({1, 2});
  log.Take();
  std::uint8_t in = 0;
  port.BeginRead(&in, 1, op.get());
  EXPECT_EQ(op->Direction, adRead);
  EXPECT_EQ(port.WaitAsync(op.get()), 1);
  EXPECT_EQ(in, 1);
  EXPECT_TRUE(log.Take().empty());
  port.DestroyAsyncOp(op);
  EXPECT_EQ(op, nullptr);
}

TEST_F(Transfer, StagedCopyIsPrivate) {
  auto op = port.CreateAsyncOp();
  std::array<std::uint8_t, 2> bytes = {1, 2};
  port.StageWriteData(adWrite, bytes.data(), 2, op.get());
  bytes[0] = 99;
  ASSERT_NE(op->SentCopy, nullptr);
  EXPECT_EQ(op->SentCopy[0], 1);
  port.StageWriteData(adWrite, bytes.data(), 0, op.get());
  EXPECT_EQ(op->SentCopy, nullptr);
  EXPECT_EQ(op->SentCopyLength, 0);
  port.DestroyAsyncOp(op);
}

TEST_F(Transfer, MissingRecordIsRefusedBeforeTheDevice) {
  line->FailCall(DriverCall::WriteFile, ERROR_GEN_FAILURE);
  line->FailCall(DriverCall::ReadFile, ERROR_GEN_FAILURE);
  std::uint8_t byte = 3;
  for (const auto& step : std::vector<std::function<void()>>{
           [&] { port.BeginWrite(&byte, 1, nullptr); }, [&] { port.BeginRead(&byte, 1, nullptr); },
           [&] { port.WaitAsync(nullptr); }}) {
    try {
      step();
      ADD_FAILURE() << "no error";
    } catch (const EComPortExt&) {
      ADD_FAILURE() << "extended error";
    } catch (const EComPort& error) {
      EXPECT_EQ(error.ErrorCode(), 4);
      EXPECT_EQ(error.Message(), line->Name() + " Error: Invalid Async parameter");
    }
  }
  EXPECT_EQ(byte, 3);
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(Transfer, RecordWithoutEventNeverStarts) {
  AsyncOp op;  // as CreateAsyncOp leaves it when no event could be made
  op.EventError = ERROR_NOT_ENOUGH_MEMORY;
  std::uint8_t byte = 5;
  EComPortExt error = ExpectPortExtError([&] { port.BeginWrite(&byte, 1, &op); });
  EXPECT_EQ(error.ErrorCode(), 2);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  error = ExpectPortExtError([&] { port.BeginRead(&byte, 1, &op); });
  EXPECT_EQ(error.ErrorCode(), 3);
  EXPECT_EQ(byte, 5);
  EXPECT_TRUE(line->TakeSent().empty());
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(Transfer, WriteThatCannotStart) {
  line->FailCall(DriverCall::WriteFile, ERROR_GEN_FAILURE, 1);
  const std::uint8_t byte = 1;
  const EComPortExt error = ExpectPortExtError([&] { port.Write(&byte, 1); });
  EXPECT_EQ(error.ErrorCode(), 2);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_TRUE(log.Take().empty());
  EXPECT_TRUE(port.Connected());
}

TEST_F(Transfer, ReadThatCannotStartReturnsZero) {
  InjectAndWait({4});
  line->FailCall(DriverCall::ReadFile, ERROR_GEN_FAILURE, 1);
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1), 0);
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(port.Read(&byte, 1), 1);
  EXPECT_EQ(byte, 4);
}

TEST_F(Transfer, ReadThatFailsToFinish) {
  InjectAndWait({4});
  line->FailCall(DriverCall::GetOverlappedResult, ERROR_GEN_FAILURE, 1);
  std::uint8_t byte = 0;
  const EComPortExt error = ExpectPortExtError([&] { port.Read(&byte, 1); });
  EXPECT_EQ(error.ErrorCode(), 3);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

TEST_F(Transfer, AfterCloseWriteFailsAndReadReturnsZero) {
  port.Close();
  log.Take();
  const std::uint8_t out = 1;
  const EComPortExt error = ExpectPortExtError([&] { port.Write(&out, 1); });
  EXPECT_EQ(error.ErrorCode(), 2);
  EXPECT_EQ(error.Message(), "COM Port Error: WriteFile function failed on " + line->Name());
  std::uint8_t in = 0;
  EXPECT_EQ(port.Read(&in, 1), 0);
  EXPECT_TRUE(log.Take().empty());
}

TEST_F(Transfer, ModemSignalMapping) {
  line->SetModemStatus(0x90);
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{msCTS, msRLSD}));
  line->SetModemStatus(MS_DSR_ON | MS_RING_ON);
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{msDSR, msRing}));
  line->SetModemStatus(0x0F);
  EXPECT_TRUE(port.ModemSignals().Empty());
}

TEST_F(Transfer, LineErrorMapping) {
  line->RaiseLineErrors(CE_FRAME | CE_OVERRUN);
  EXPECT_EQ(port.ClearLineErrors(), (TComErrors{ceFrame, ceOverrun}));
  EXPECT_TRUE(port.ClearLineErrors().Empty());

  line->RaiseLineErrors(CE_RXPARITY);
  EXPECT_TRUE(port.ClearLineErrors().Empty());  // parity checking is off
  port.Parity().SetCheck(true);
  line->RaiseLineErrors(CE_RXPARITY);
  EXPECT_EQ(port.ClearLineErrors(), TComErrors{ceRxParity});

  line->RaiseBreak();
  EXPECT_TRUE(port.ClearLineErrors().Contains(ceBreak));

  line->RaiseLineErrors(CE_MODE | CE_IOE | CE_TXFULL);
  EXPECT_EQ(port.ClearLineErrors(), (TComErrors{ceIO, ceMode, ceTxFull}));
  EXPECT_TRUE(port.ClearLineErrors().Empty());
}

TEST_F(Transfer, QueueCountClearsTheErrorFlags) {
  line->RaiseLineErrors(CE_FRAME);
  EXPECT_EQ(port.RxQueueCount(), 0);
  EXPECT_TRUE(port.ClearLineErrors().Empty());
}

TEST_F(Transfer, FailingStatusQueries) {
  line->FailCall(DriverCall::ClearCommError, ERROR_GEN_FAILURE, 2);
  EComPortExt error = ExpectPortExtError([&] { port.RxQueueCount(); });
  EXPECT_EQ(error.ErrorCode(), 10);
  EXPECT_EQ(error.Message(), "COM Port Error: ClearCommError function failed on " + line->Name());
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(ExpectPortExtError([&] { port.ClearLineErrors(); }).ErrorCode(), 10);

  line->FailCall(DriverCall::GetCommModemStatus, ERROR_GEN_FAILURE, 1);
  error = ExpectPortExtError([&] { port.ModemSignals(); });
  EXPECT_EQ(error.ErrorCode(), 11);
  EXPECT_EQ(error.OsErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));

  // A read whose queue check fails reports that failure (and has read its byte).
  InjectAndWait({1});
  line->FailCall(DriverCall::ClearCommError, ERROR_GEN_FAILURE, 1);
  std::uint8_t byte = 0;
  EXPECT_EQ(ExpectPortExtError([&] { port.Read(&byte, 1); }).ErrorCode(), 10);
  EXPECT_EQ(byte, 1);
  EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace comport
