#include "winapi/virtual_line.h"

#include "lines/virtual/common/virtual_lines.h"
#include "winapi/ascii_case.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace winapi {
namespace {

bool IsConfigurationCall(DriverCall call) {
  switch (call) {
    case DriverCall::SetupComm:
    case DriverCall::SetCommState:
    case DriverCall::SetCommTimeouts:
    case DriverCall::SetCommMask:
    case DriverCall::PurgeComm:
      return true;
    default:
      return false;
  }
}

class PortEnd;

struct Failure {
  DWORD error = 0;
  int remaining = -1;  // < 0: every call
};

}  // namespace

// Everything both sides of one virtual line share, under one mutex.
class VirtualLineState {
 public:
  explicit VirtualLineState(std::string name) : name(std::move(name)) {}

  const std::string name;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;

  bool connected = true;
  PortEnd* attached = nullptr;  // the port side while open
  int openCount = 0;
  std::vector<std::uint8_t> sent;
  std::deque<std::uint8_t> backlog;  // received bytes the driver has not taken yet
  bool receiveArmed = true;
  bool transmitStalled = false;
  bool held = false;
  DWORD modem = 0;
  DCB dcb{};
  std::uint64_t activity = 0;
  std::map<DriverCall, Failure> failures;
  std::vector<DriverRecord> records;

  bool TransmitBlocked() const {
    return held || (dcb.fOutxCtsFlow && !(modem & MS_CTS_ON)) ||
           (dcb.fOutxDsrFlow && !(modem & MS_DSR_ON));
  }

  DWORD TakeFailure(DriverCall call) {
    auto it = failures.find(call);
    if (it == failures.end()) return 0;
    const DWORD error = it->second.error;
    if (it->second.remaining > 0 && --it->second.remaining == 0) failures.erase(it);
    return error;
  }

  // Called with the mutex held.
  void Touch() {
    ++activity;
    changed.notify_all();
  }

  // Calls the port side's sink without the lock (see the contract of Line).
  template <class Fn>
  void ReportTo(std::unique_lock<std::mutex>& lock, PortEnd* end, Fn report);
  template <class Fn>
  void Report(std::unique_lock<std::mutex>& lock, Fn report) {
    ReportTo(lock, attached, report);
  }
};

namespace {

// The port side of a virtual line: the Line the driver model sits on.
class PortEnd final : public driver::Line {
 public:
  explicit PortEnd(std::shared_ptr<VirtualLineState> state) : state_(std::move(state)) {}

  driver::LineSink* sink = nullptr;
  int reportsInProgress = 0;

  void Start(driver::LineSink& lineSink) override {
    std::lock_guard lock(state_->mutex);
    sink = &lineSink;
  }

  void Stop() override {
    std::unique_lock lock(state_->mutex);
    sink = nullptr;
    if (state_->attached == this) {
      state_->attached = nullptr;
      state_->Touch();
    }
    state_->changed.wait(lock, [this] { return reportsInProgress == 0; });
  }

  DWORD ApplyState(const DCB& dcb) override {
    std::lock_guard lock(state_->mutex);
    state_->dcb = dcb;
    state_->Touch();
    return 0;
  }

  std::size_t Transmit(std::span<const std::uint8_t> bytes) override {
    std::lock_guard lock(state_->mutex);
    if (state_->attached != this || state_->TransmitBlocked()) {
      state_->transmitStalled = true;
      return 0;
    }
    state_->sent.insert(state_->sent.end(), bytes.begin(), bytes.end());
    state_->Touch();
    return bytes.size();
  }

  std::size_t Receive(std::span<std::uint8_t> dest) override {
    std::lock_guard lock(state_->mutex);
    if (state_->attached != this) return 0;
    const std::size_t count = std::min(dest.size(), state_->backlog.size());
    std::copy_n(state_->backlog.begin(), count, dest.begin());
    state_->backlog.erase(state_->backlog.begin(), state_->backlog.begin() + count);
    if (count < dest.size()) state_->receiveArmed = true;
    return count;
  }

  DWORD ModemStatus() override {
    std::lock_guard lock(state_->mutex);
    return state_->modem;
  }

  void Purge(DWORD purgeFlags) override {
    std::lock_guard lock(state_->mutex);
    if (purgeFlags & PURGE_RXCLEAR) state_->backlog.clear();
  }

  DWORD CheckCall(DriverCall call) override {
    std::lock_guard lock(state_->mutex);
    return state_->TakeFailure(call);
  }

  void RecordCall(const DriverRecord& record) override {
    std::lock_guard lock(state_->mutex);
    if (IsConfigurationCall(record.call)) state_->records.push_back(record);
  }

 private:
  std::shared_ptr<VirtualLineState> state_;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<VirtualLineState>> lines;  // by upper-case name
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::shared_ptr<VirtualLineState> FindLine(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.lines.find(AsciiUpper(name));
  return it == registry.lines.end() ? nullptr : it->second.lock();
}

}  // namespace

template <class Fn>
void VirtualLineState::ReportTo(std::unique_lock<std::mutex>& lock, PortEnd* end, Fn report) {
  if (!end || !end->sink) return;
  driver::LineSink* sink = end->sink;
  ++end->reportsInProgress;
  lock.unlock();
  report(*sink);
  lock.lock();
  --end->reportsInProgress;
  changed.notify_all();
}

namespace driver {

bool VirtualLineExists(const std::string& name) {
  return FindLine(name) != nullptr;
}

std::unique_ptr<Line> OpenVirtualLine(const std::string& name, DWORD& error) {
  error = 0;
  auto state = FindLine(name);
  if (!state) return nullptr;
  std::lock_guard lock(state->mutex);
  if (!state->connected) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (DWORD failure = state->TakeFailure(DriverCall::CreateFile)) {
    error = failure;
    return nullptr;
  }
  if (state->attached) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  auto end = std::make_unique<PortEnd>(state);
  state->attached = end.get();
  state->receiveArmed = true;
  state->transmitStalled = false;
  ++state->openCount;
  state->Touch();
  return end;
}

}  // namespace driver

std::shared_ptr<VirtualLine> VirtualLine::Create(const std::string& name) {
  if (name.empty()) throw std::invalid_argument("A virtual line needs a name");
  auto state = std::make_shared<VirtualLineState>(name);
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto& slot = registry.lines[AsciiUpper(name)];
  if (!slot.expired()) throw std::invalid_argument("Virtual line name in use: " + name);
  slot = state;
  return std::shared_ptr<VirtualLine>(new VirtualLine(std::move(state)));
}

VirtualLine::VirtualLine(std::shared_ptr<VirtualLineState> state) : state_(std::move(state)) {}

VirtualLine::~VirtualLine() {
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.lines.find(AsciiUpper(state_->name));
    if (it != registry.lines.end() && it->second.lock() == state_) registry.lines.erase(it);
  }
  // Without its far side the device is gone: a port still open sees it go away.
  Disconnect();
}

const std::string& VirtualLine::Name() const {
  return state_->name;
}

bool VirtualLine::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->attached != nullptr;
}

bool VirtualLine::WaitOpen(bool open, std::chrono::milliseconds limit) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, limit,
                                  [&] { return (state_->attached != nullptr) == open; });
}

std::vector<std::uint8_t> VirtualLine::ReadSent(std::size_t count,
                                                std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, limit, [&] { return state_->sent.size() >= count; });
  const std::size_t take = std::min(count, state_->sent.size());
  std::vector<std::uint8_t> bytes(state_->sent.begin(), state_->sent.begin() + take);
  state_->sent.erase(state_->sent.begin(), state_->sent.begin() + take);
  return bytes;
}

std::vector<std::uint8_t> VirtualLine::TakeSent() {
  std::lock_guard lock(state_->mutex);
  return std::exchange(state_->sent, {});
}

void VirtualLine::Inject(std::span<const std::uint8_t> bytes) {
  std::unique_lock lock(state_->mutex);
  if (!state_->connected || bytes.empty()) return;
  state_->backlog.insert(state_->backlog.end(), bytes.begin(), bytes.end());
  if (!state_->receiveArmed) return;
  state_->receiveArmed = false;
  state_->Report(lock, [](driver::LineSink& sink) { sink.OnReceiveReady(); });
}

void VirtualLine::Inject(std::initializer_list<std::uint8_t> bytes) {
  Inject(std::span(bytes.begin(), bytes.size()));
}

void VirtualLine::InjectInBursts(std::span<const std::uint8_t> bytes, std::size_t burstSize,
                                 std::chrono::milliseconds gap) {
  burstSize = std::max<std::size_t>(burstSize, 1);
  for (std::size_t offset = 0; offset < bytes.size(); offset += burstSize) {
    if (offset > 0) std::this_thread::sleep_for(gap);
    Inject(bytes.subspan(offset, std::min(burstSize, bytes.size() - offset)));
  }
}

std::size_t VirtualLine::PendingReceive() const {
  std::lock_guard lock(state_->mutex);
  return state_->backlog.size();
}

void VirtualLine::SetModemStatus(DWORD status) {
  std::unique_lock lock(state_->mutex);
  state_->modem = status;
  state_->Report(lock, [status](driver::LineSink& sink) { sink.OnModemStatus(status); });
  if (state_->transmitStalled && !state_->TransmitBlocked()) {
    state_->transmitStalled = false;
    state_->Report(lock, [](driver::LineSink& sink) { sink.OnTransmitReady(); });
  }
}

void VirtualLine::RaiseLineErrors(DWORD ceFlags) {
  std::unique_lock lock(state_->mutex);
  state_->Report(lock, [ceFlags](driver::LineSink& sink) { sink.OnLineErrors(ceFlags); });
}

void VirtualLine::RaiseBreak() {
  std::unique_lock lock(state_->mutex);
  state_->Report(lock, [](driver::LineSink& sink) { sink.OnBreak(); });
}

void VirtualLine::HoldTransmission(bool hold) {
  std::unique_lock lock(state_->mutex);
  state_->held = hold;
  if (!hold && state_->transmitStalled && !state_->TransmitBlocked()) {
    state_->transmitStalled = false;
    state_->Report(lock, [](driver::LineSink& sink) { sink.OnTransmitReady(); });
  }
}

void VirtualLine::Disconnect() {
  std::unique_lock lock(state_->mutex);
  if (!state_->connected) return;
  state_->connected = false;
  state_->backlog.clear();
  PortEnd* end = state_->attached;
  // The old port side stays attached to nothing: it only ever fails from now on.
  state_->attached = nullptr;
  state_->Touch();
  state_->ReportTo(lock, end,
                   [](driver::LineSink& sink) { sink.OnGone(ERROR_DEVICE_NOT_CONNECTED); });
}

void VirtualLine::Reconnect() {
  std::lock_guard lock(state_->mutex);
  state_->connected = true;
}

void VirtualLine::FailCall(DriverCall call, DWORD error, int times) {
  std::lock_guard lock(state_->mutex);
  if (times == 0) return;
  state_->failures[call] = Failure{error, times < 0 ? -1 : times};
}

void VirtualLine::ClearFailures() {
  std::lock_guard lock(state_->mutex);
  state_->failures.clear();
}

std::vector<DriverRecord> VirtualLine::Records() const {
  std::lock_guard lock(state_->mutex);
  return state_->records;
}

void VirtualLine::ClearRecords() {
  std::lock_guard lock(state_->mutex);
  state_->records.clear();
}

int VirtualLine::OpenCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->openCount;
}

DCB VirtualLine::CommState() const {
  std::lock_guard lock(state_->mutex);
  return state_->dcb;
}

std::uint64_t VirtualLine::Activity() const {
  std::lock_guard lock(state_->mutex);
  return state_->activity;
}

std::uint64_t VirtualLine::WaitActivity(std::uint64_t seen,
                                        std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_until(lock, deadline, [&] { return state_->activity != seen; });
  return state_->activity;
}

void VirtualLine::Notify() {
  std::lock_guard lock(state_->mutex);
  state_->Touch();
}

}  // namespace winapi
