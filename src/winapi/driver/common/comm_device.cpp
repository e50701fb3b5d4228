#include "driver/common/comm_device.h"

#include "driver/common/comm_status.h"
#include "winapi/winapi.h"

#include <algorithm>
#include <array>

namespace winapi::driver {

struct CommDevice::Request {
  enum class Kind { Read, Write, Wait };
  Kind kind = Kind::Read;
  OVERLAPPED* overlapped = nullptr;  // the caller's, or `own` for a synchronous call
  OVERLAPPED own{};
  std::uint8_t* readBuffer = nullptr;
  std::vector<std::uint8_t> writeData;
  std::size_t want = 0;
  std::size_t done = 0;
  DWORD* eventMask = nullptr;
  DWORD events = 0;
  bool started = false;
  bool finished = false;
  // Read modes decided when the request starts, from the time-outs of that moment.
  bool returnAtOnce = false;  // MAXDWORD/0/0
  bool returnOnAny = false;   // MAXDWORD/MAXDWORD/constant
  std::chrono::milliseconds interval{0};
  std::optional<Clock::time_point> totalDeadline;
  std::optional<Clock::time_point> intervalDeadline;
};

namespace {

// Longer time-outs than this are as good as none, and would overflow the clock.
constexpr std::uint64_t kLongestTimeoutMs = 1ull << 40;

std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(std::uint64_t ms) {
  if (ms == 0 || ms >= kLongestTimeoutMs) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

DCB DefaultDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

// What any serial driver refuses before the line sees it.
bool IsValidDcb(const DCB& dcb) {
  if (dcb.BaudRate == 0) return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
  if (dcb.ByteSize == 5 && dcb.StopBits == TWOSTOPBITS) return false;
  if (dcb.ByteSize != 5 && dcb.StopBits == ONE5STOPBITS) return false;
  if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) return false;
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return false;
  return true;
}

constexpr DWORD kErrorEvents = CE_FRAME | CE_OVERRUN | CE_RXPARITY;
// The events received bytes raise: a wait for them is worth watching the line for.
constexpr DWORD kReceiveEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL;
constexpr DWORD kAllPurges = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

}  // namespace

CommDevice::CommDevice(std::unique_ptr<Line> line, DWORD access)
    : line_(std::move(line)), access_(access), dcb_(DefaultDcb()) {}

CommDevice::~CommDevice() {
  Lock lock(mutex_);
  if (!opened_ || closed_) return;
  // Only reached for handles still open when the process ends: the events of pending
  // requests may be gone already, so the requests are dropped without signalling them.
  closed_ = true;
  reads_.clear();
  writes_.clear();
  line_->SetInputWaitEvent(nullptr);
  wait_.reset();
  timerWake_.notify_all();
  lock.unlock();
  line_->Stop();
  timer_.join();
}

void CommDevice::Open() {
  Lock lock(mutex_);
  // The line starts with the settings the driver reports until the port sets its own.
  line_->ApplyState(dcb_);
  modem_ = line_->ModemStatus();
  line_->Start(*this);
  opened_ = true;
  timer_ = std::thread([this] { TimerLoop(); });
  Pump();
}

BOOL CommDevice::Close() {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_ == 0) {
    if (DWORD error = line_->CheckCall(DriverCall::CloseHandle)) return Fail(error);
  }
  closed_ = true;
  AbortAll(reads_, ERROR_OPERATION_ABORTED);
  AbortAll(writes_, ERROR_OPERATION_ABORTED);
  if (wait_) FinishWait(ToStatus(ERROR_OPERATION_ABORTED));
  timerWake_.notify_all();
  lock.unlock();
  line_->Stop();
  timer_.join();
  return TRUE;
}

BOOL CommDevice::Fail(DWORD error) {
  winapi::SetLastError(error);
  return FALSE;
}

DWORD CommDevice::Admit(DriverCall call) {
  if (closed_) return ERROR_INVALID_HANDLE;
  if (goneError_) return goneError_;
  return line_->CheckCall(call);
}

CommDevice::RequestPtr CommDevice::NewRequest(LPOVERLAPPED overlapped) {
  auto request = std::make_shared<Request>();
  request->overlapped = overlapped ? overlapped : &request->own;
  request->overlapped->Internal = kStatusPending;
  request->overlapped->InternalHigh = 0;
  // Like the system, a new request makes its event non-signalled until it completes.
  if (overlapped && overlapped->hEvent) winapi::ResetEvent(overlapped->hEvent);
  return request;
}

BOOL CommDevice::Submit(Lock& lock, const RequestPtr& request, LPDWORD done) {
  Pump();
  const bool synchronous = request->overlapped == &request->own;
  if (!request->finished) {
    if (!synchronous) return Fail(ERROR_IO_PENDING);
    changed_.wait(lock, [&] { return request->finished; });
  }
  const OVERLAPPED& result = *request->overlapped;
  if (done) *done = static_cast<DWORD>(result.InternalHigh);
  if (DWORD error = ErrorOf(static_cast<DWORD>(result.Internal))) return Fail(error);
  return TRUE;
}

BOOL CommDevice::Read(LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  if (done) *done = 0;
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::ReadFile)) return Fail(error);
  if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  if (!buffer && count > 0) return Fail(ERROR_INVALID_PARAMETER);
  if (aborted_) return Fail(ERROR_OPERATION_ABORTED);
  auto request = NewRequest(overlapped);
  request->kind = Request::Kind::Read;
  request->readBuffer = static_cast<std::uint8_t*>(buffer);
  request->want = count;
  if (count == 0) {
    Complete(*request, kStatusSuccess);
  } else {
    reads_.push_back(request);
  }
  return Submit(lock, request, done);
}

BOOL CommDevice::Write(LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  if (done) *done = 0;
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::WriteFile)) return Fail(error);
  if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (!buffer && count > 0) return Fail(ERROR_INVALID_PARAMETER);
  if (aborted_) return Fail(ERROR_OPERATION_ABORTED);
  auto request = NewRequest(overlapped);
  request->kind = Request::Kind::Write;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  request->writeData.assign(bytes, bytes + count);
  request->want = count;
  if (count == 0) {
    Complete(*request, kStatusSuccess);
  } else {
    writes_.push_back(request);
  }
  return Submit(lock, request, done);
}

bool CommDevice::IsPending(const OVERLAPPED* overlapped) const {
  auto refersTo = [overlapped](const RequestPtr& r) { return r->overlapped == overlapped; };
  return std::any_of(reads_.begin(), reads_.end(), refersTo) ||
         std::any_of(writes_.begin(), writes_.end(), refersTo) ||
         (wait_ && wait_->overlapped == overlapped);
}

BOOL CommDevice::GetOverlappedResult(LPOVERLAPPED overlapped, LPDWORD done, BOOL wait) {
  if (!overlapped) return Fail(ERROR_INVALID_PARAMETER);
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (DWORD error = line_->CheckCall(DriverCall::GetOverlappedResult)) return Fail(error);
  if (IsPending(overlapped)) {
    if (!wait) return Fail(ERROR_IO_INCOMPLETE);
    changed_.wait(lock, [&] { return !IsPending(overlapped); });
  }
  if (done) *done = static_cast<DWORD>(overlapped->InternalHigh);
  if (DWORD error = ErrorOf(static_cast<DWORD>(overlapped->Internal))) return Fail(error);
  return TRUE;
}

BOOL CommDevice::Setup(DWORD inQueue, DWORD outQueue) {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_) return Fail(goneError_);
  DriverRecord record{.call = DriverCall::SetupComm};
  record.inQueue = inQueue;
  record.outQueue = outQueue;
  line_->RecordCall(record);
  if (DWORD error = line_->CheckCall(DriverCall::SetupComm)) return Fail(error);
  // Zero keeps the present size, as a driver that cannot shrink below its minimum would.
  if (inQueue) inQueueSize_ = inQueue;
  if (outQueue) outQueueSize_ = outQueue;
  Pump();
  return TRUE;
}

BOOL CommDevice::SetState(const DCB* dcb) {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_) return Fail(goneError_);
  if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
  DriverRecord record{.call = DriverCall::SetCommState};
  record.dcb = *dcb;
  line_->RecordCall(record);
  if (DWORD error = line_->CheckCall(DriverCall::SetCommState)) return Fail(error);
  if (!IsValidDcb(*dcb)) return Fail(ERROR_INVALID_PARAMETER);
  if (DWORD error = line_->ApplyState(*dcb)) return Fail(error);
  dcb_ = *dcb;
  PumpTransmit();  // flow control may have changed
  return TRUE;
}

BOOL CommDevice::GetState(DCB* dcb) {
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::GetCommState)) return Fail(error);
  if (!dcb) return Fail(ERROR_INVALID_PARAMETER);
  *dcb = dcb_;
  return TRUE;
}

BOOL CommDevice::SetTimeouts(const COMMTIMEOUTS* timeouts) {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_) return Fail(goneError_);
  if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
  DriverRecord record{.call = DriverCall::SetCommTimeouts};
  record.timeouts = *timeouts;
  line_->RecordCall(record);
  if (DWORD error = line_->CheckCall(DriverCall::SetCommTimeouts)) return Fail(error);
  if (timeouts->ReadIntervalTimeout == MAXDWORD &&
      timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts->ReadTotalTimeoutConstant == MAXDWORD) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  timeouts_ = *timeouts;
  return TRUE;
}

BOOL CommDevice::GetTimeouts(COMMTIMEOUTS* timeouts) {
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::GetCommTimeouts)) return Fail(error);
  if (!timeouts) return Fail(ERROR_INVALID_PARAMETER);
  *timeouts = timeouts_;
  return TRUE;
}

BOOL CommDevice::SetMask(DWORD mask) {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_) return Fail(goneError_);
  DriverRecord record{.call = DriverCall::SetCommMask};
  record.mask = mask;
  line_->RecordCall(record);
  if (DWORD error = line_->CheckCall(DriverCall::SetCommMask)) return Fail(error);
  if (wait_) {
    wait_->events = 0;
    FinishWait(kStatusSuccess);
  }
  mask_ = mask;
  // Keep the history still of interest under the new mask.
  history_ &= mask;
  return TRUE;
}

BOOL CommDevice::WaitEvent(LPDWORD eventMask, LPOVERLAPPED overlapped) {
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::WaitCommEvent)) return Fail(error);
  if (!eventMask || mask_ == 0 || wait_) return Fail(ERROR_INVALID_PARAMETER);
  auto request = NewRequest(overlapped);
  request->kind = Request::Kind::Wait;
  request->eventMask = eventMask;
  if (history_) {
    request->events = history_;
    history_ = 0;
    Complete(*request, kStatusSuccess);
  } else {
    wait_ = request;
    if (overlapped && overlapped->hEvent && (mask_ & kReceiveEvents)) {
      line_->SetInputWaitEvent(overlapped->hEvent);
    }
  }
  return Submit(lock, request, nullptr);
}

BOOL CommDevice::ClearError(LPDWORD errors, LPCOMSTAT stat) {
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::ClearCommError)) return Fail(error);
  if (errors) *errors = errors_;
  errors_ = 0;
  aborted_ = false;
  if (stat) {
    *stat = COMSTAT{};
    stat->fCtsHold = dcb_.fOutxCtsFlow && !(modem_ & MS_CTS_ON);
    stat->fDsrHold = dcb_.fOutxDsrFlow && !(modem_ & MS_DSR_ON);
    stat->cbInQue = static_cast<DWORD>(received_.size());
    stat->cbOutQue = static_cast<DWORD>(PendingWriteBytes());
  }
  return TRUE;
}

BOOL CommDevice::Purge(DWORD flags) {
  Lock lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (goneError_) return Fail(goneError_);
  DriverRecord record{.call = DriverCall::PurgeComm};
  record.purgeFlags = flags;
  line_->RecordCall(record);
  if (DWORD error = line_->CheckCall(DriverCall::PurgeComm)) return Fail(error);
  if (flags & ~kAllPurges) return Fail(ERROR_INVALID_PARAMETER);
  if (flags & PURGE_TXABORT) AbortAll(writes_, ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXABORT) AbortAll(reads_, ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXCLEAR) received_.clear();
  line_->Purge(flags & (PURGE_TXCLEAR | PURGE_RXCLEAR));
  // Room freed: take what the line still holds back (it re-arms if it has nothing).
  Pump();
  return TRUE;
}

BOOL CommDevice::GetModemStatus(LPDWORD modemStatus) {
  Lock lock(mutex_);
  if (DWORD error = Admit(DriverCall::GetCommModemStatus)) return Fail(error);
  if (!modemStatus) return Fail(ERROR_INVALID_PARAMETER);
  *modemStatus = line_->ModemStatus();
  return TRUE;
}

// ---- the data paths (mutex held) ----

void CommDevice::Pump() {
  if (closed_ || goneError_) return;
  PullReceived();
  PumpTransmit();
}

void CommDevice::PullReceived() {
  std::array<std::uint8_t, 4096> chunk{};
  ServeReads();  // frees room first
  while (lineHasData_ && !closed_ && !goneError_) {
    // Bytes go straight into a waiting read, as into the queue; both count as room.
    std::size_t room = inQueueSize_ > received_.size() ? inQueueSize_ - received_.size() : 0;
    if (received_.empty()) {
      for (const auto& read : reads_) room += read->want - read->done;
    }
    if (room == 0) break;
    const std::size_t asked = std::min(room, chunk.size());
    const std::size_t got = line_->Receive(std::span(chunk.data(), asked));
    if (got < asked) lineHasData_ = false;
    if (got == 0) break;
    const bool wasNearlyFull = received_.size() * 5 >= inQueueSize_ * 4;
    DWORD events = EV_RXCHAR;
    if (std::find(chunk.begin(), chunk.begin() + got, static_cast<std::uint8_t>(dcb_.EvtChar)) !=
        chunk.begin() + got) {
      events |= EV_RXFLAG;
    }
    received_.insert(received_.end(), chunk.begin(), chunk.begin() + got);
    ServeReads();
    if (!wasNearlyFull && received_.size() * 5 >= inQueueSize_ * 4) events |= EV_RX80FULL;
    Raise(events);
  }
}

void CommDevice::StartRead(Request& read) {
  read.started = true;
  const COMMTIMEOUTS& t = timeouts_;
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    read.returnAtOnce = true;
    return;
  }
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
      t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
    read.returnOnAny = true;
    read.totalDeadline = DeadlineAfter(t.ReadTotalTimeoutConstant);
  } else {
    read.totalDeadline = DeadlineAfter(std::uint64_t{t.ReadTotalTimeoutMultiplier} * read.want +
                                       t.ReadTotalTimeoutConstant);
    if (t.ReadIntervalTimeout != MAXDWORD) {
      read.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    }
  }
  if (read.totalDeadline) timerWake_.notify_all();
}

void CommDevice::ServeReads() {
  while (!reads_.empty()) {
    Request& read = *reads_.front();
    if (!read.started) StartRead(read);
    const std::size_t take = std::min(read.want - read.done, received_.size());
    std::copy_n(received_.begin(), take, read.readBuffer + read.done);
    received_.erase(received_.begin(), received_.begin() + take);
    read.done += take;
    if (read.done == read.want || read.returnAtOnce || (read.returnOnAny && read.done > 0)) {
      Complete(read, kStatusSuccess);
      reads_.pop_front();
      continue;
    }
    if (take > 0 && read.interval.count() > 0) {
      read.intervalDeadline = Clock::now() + read.interval;
      timerWake_.notify_all();
    }
    break;
  }
}

void CommDevice::StartWrite(Request& write) {
  write.started = true;
  write.totalDeadline =
      DeadlineAfter(std::uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * write.want +
                    timeouts_.WriteTotalTimeoutConstant);
  if (write.totalDeadline) timerWake_.notify_all();
}

void CommDevice::PumpTransmit() {
  if (closed_ || goneError_) return;
  bool sent = false;
  while (!writes_.empty()) {
    Request& write = *writes_.front();
    if (!write.started) StartWrite(write);
    const std::size_t taken =
        line_->Transmit(std::span(write.writeData.data() + write.done, write.want - write.done));
    write.done += taken;
    sent = sent || taken > 0;
    if (write.done < write.want) break;
    Complete(write, kStatusSuccess);
    writes_.pop_front();
  }
  if (sent && writes_.empty()) Raise(EV_TXEMPTY);
}

std::size_t CommDevice::PendingWriteBytes() const {
  std::size_t bytes = 0;
  for (const auto& write : writes_) bytes += write->want - write->done;
  return bytes;
}

void CommDevice::Raise(DWORD events) {
  events &= mask_;
  if (!events) return;
  if (wait_) {
    wait_->events = events | history_;
    history_ = 0;
    FinishWait(kStatusSuccess);
  } else {
    history_ |= events;
  }
}

void CommDevice::FinishWait(DWORD status) {
  line_->SetInputWaitEvent(nullptr);
  Complete(*wait_, status);
  wait_.reset();
}

void CommDevice::Complete(Request& request, DWORD status) {
  if (request.kind == Request::Kind::Wait && request.eventMask) *request.eventMask = request.events;
  request.overlapped->InternalHigh = request.done;
  request.overlapped->Internal = status;
  request.finished = true;
  if (request.overlapped != &request.own && request.overlapped->hEvent) {
    winapi::SetEvent(request.overlapped->hEvent);
  }
  changed_.notify_all();
}

void CommDevice::AbortAll(std::deque<RequestPtr>& requests, DWORD error) {
  for (auto& request : requests) Complete(*request, ToStatus(error));
  requests.clear();
}

void CommDevice::AbortOnError() {
  if (!dcb_.fAbortOnError) return;
  aborted_ = true;
  AbortAll(reads_, ERROR_OPERATION_ABORTED);
  AbortAll(writes_, ERROR_OPERATION_ABORTED);
}

// ---- reports of the line ----

void CommDevice::OnReceiveReady() {
  Lock lock(mutex_);
  lineHasData_ = true;
  Pump();
}

void CommDevice::OnTransmitReady() {
  Lock lock(mutex_);
  PumpTransmit();
}

void CommDevice::OnModemStatus(DWORD modemStatus, DWORD changedBack) {
  Lock lock(mutex_);
  if (closed_ || goneError_) return;
  const DWORD changed = (modemStatus ^ modem_) | changedBack;
  DWORD events = 0;
  if (changed & MS_CTS_ON) events |= EV_CTS;
  if (changed & MS_DSR_ON) events |= EV_DSR;
  if (changed & MS_RLSD_ON) events |= EV_RLSD;
  // A ring that came on, or came and went between two reports.
  if ((changed & MS_RING_ON) && ((modemStatus & MS_RING_ON) || (changedBack & MS_RING_ON))) {
    events |= EV_RING;
  }
  modem_ = modemStatus;
  Raise(events);
  PumpTransmit();
}

void CommDevice::OnLineErrors(DWORD ceFlags) {
  Lock lock(mutex_);
  if (closed_ || goneError_) return;
  errors_ |= ceFlags;
  if (ceFlags & kErrorEvents) Raise(EV_ERR);
  AbortOnError();
}

void CommDevice::OnBreak() {
  Lock lock(mutex_);
  if (closed_ || goneError_) return;
  errors_ |= CE_BREAK;
  Raise(EV_BREAK);
  AbortOnError();
}

void CommDevice::OnGone(DWORD windowsError) {
  Lock lock(mutex_);
  if (closed_ || goneError_) return;
  goneError_ = windowsError ? windowsError : ERROR_DEVICE_NOT_CONNECTED;
  AbortAll(reads_, goneError_);
  AbortAll(writes_, goneError_);
  if (wait_) FinishWait(ToStatus(goneError_));
}

// ---- time-outs ----

std::optional<CommDevice::Clock::time_point> CommDevice::NextDeadline() const {
  std::optional<Clock::time_point> next;
  auto consider = [&next](const std::optional<Clock::time_point>& t) {
    if (t && (!next || *t < *next)) next = t;
  };
  // Only the first request of each kind runs; the others have not started their clocks.
  if (!reads_.empty()) {
    consider(reads_.front()->totalDeadline);
    consider(reads_.front()->intervalDeadline);
  }
  if (!writes_.empty()) consider(writes_.front()->totalDeadline);
  return next;
}

void CommDevice::ExpireRequests(Clock::time_point now) {
  auto due = [now](const std::optional<Clock::time_point>& t) { return t && *t <= now; };
  while (!reads_.empty() && reads_.front()->started &&
         (due(reads_.front()->totalDeadline) || due(reads_.front()->intervalDeadline))) {
    Complete(*reads_.front(), kStatusTimeout);
    reads_.pop_front();
    ServeReads();
  }
  bool expired = false;
  while (!writes_.empty() && writes_.front()->started && due(writes_.front()->totalDeadline)) {
    Complete(*writes_.front(), kStatusTimeout);
    writes_.pop_front();
    expired = true;
  }
  if (expired) PumpTransmit();
}

void CommDevice::TimerLoop() {
  Lock lock(mutex_);
  while (!closed_) {
    // Sleeps without a deadline while no running request has one: a quiet port wakes nothing.
    if (auto next = NextDeadline()) {
      timerWake_.wait_until(lock, *next);
    } else {
      timerWake_.wait(lock);
    }
    if (!closed_) ExpireRequests(Clock::now());
  }
}

}  // namespace winapi::driver
