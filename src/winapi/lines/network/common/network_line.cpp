#include "lines/network/common/network_line.h"

#include "lines/network/common/network_address.h"
#include "lines/network/common/network_socket.h"
#include "lines/network/common/rfc2217_session.h"
#include "winapi/winapi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace winapi::driver {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Connecting, and the telnet agreement after it, each take at most this long.
constexpr milliseconds kConnectLimit{3000};
// The server's answer to a speed change: without it the port's speed is unknown.
constexpr milliseconds kSpeedAnswerLimit{2000};
// Answers to the other settings are waited for this long, then no more.
constexpr milliseconds kOtherAnswerLimit{300};
// Received bytes the driver has not pulled yet; beyond this the socket is left unread, so
// the sender is held back by TCP itself.
constexpr std::size_t kInboxLimit = 64 * 1024;
// Bytes taken for sending that the socket has not taken yet.
constexpr std::size_t kOutboxLimit = 8 * 1024;

void Report(const std::string& name, const std::string& text) {
  winapi::OutputDebugStringA((name + ": " + text).c_str());
}

class NetworkLine final : public Line {
 public:
  NetworkLine(std::string name, std::unique_ptr<NetworkSocket> socket,
              std::unique_ptr<Rfc2217Session> session)
      : name_(std::move(name)), socket_(std::move(socket)), session_(std::move(session)) {}

  ~NetworkLine() override { Stop(); }

  // The telnet agreement before the line is handed out; an error, or 0.
  DWORD Negotiate() {
    std::unique_lock lock(mutex_);
    const auto greeting = session_->Greeting();
    outbox_.insert(outbox_.end(), greeting.begin(), greeting.end());
    const Clock::time_point deadline = Clock::now() + kConnectLimit;
    while (true) {
      Flush();
      ReadSocket(true);
      if (gone_ || session_->ComPortAccepted() || session_->ComPortRefused()) break;
      if (Clock::now() >= deadline) break;
      WaitUnlocked(lock, deadline);
    }
    if (gone_) {
      Report(name_, "the server closed the connection while agreeing on the telnet options");
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (session_->ComPortRefused()) {
      Report(name_, "the server refuses the COM-PORT-OPTION; for a raw TCP server use tcp://");
      return ERROR_NOT_SUPPORTED;
    }
    if (!session_->ComPortAccepted()) {
      Report(name_, "no telnet COM-PORT-OPTION answer within " +
                        std::to_string(kConnectLimit.count()) +
                        " ms; for a raw TCP server use tcp://");
      return WSAETIMEDOUT;
    }
    session_->AppendMasks(outbox_);
    Flush();
    return gone_ ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
  }

  void Start(LineSink& sink) override {
    {
      std::lock_guard lock(mutex_);
      sink_ = &sink;
      reportedModem_ = session_ ? session_->ModemStatus() : 0;
    }
    worker_ = std::thread([this] { Run(); });
  }

  void Stop() override {
    stopping_ = true;
    socket_->Wake();
    if (worker_.joinable()) worker_.join();
  }

  DWORD ApplyState(const DCB& dcb) override {
    std::unique_lock lock(mutex_);
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    if (!session_) return ERROR_SUCCESS;  // raw bytes: the bridge keeps its own settings
    std::vector<std::uint8_t> commands;
    if (const DWORD error = session_->AppendSettings(dcb, commands)) return error;
    if (commands.empty()) return ERROR_SUCCESS;
    outbox_.insert(outbox_.end(), commands.begin(), commands.end());
    // The worker may be busy reporting to the driver, whose lock our caller holds, so
    // the answers are read here; meanwhile the worker leaves the socket alone, or it
    // could take an answer while this thread waits for it.
    applying_ = true;
    const Clock::time_point start = Clock::now();
    const Clock::time_point speedDeadline = start + kSpeedAnswerLimit;
    const Clock::time_point othersDeadline = start + kOtherAnswerLimit;
    while (true) {
      Flush();
      ReadSocket(true);
      if (gone_) break;
      const Clock::time_point now = Clock::now();
      if (session_->SpeedPending()) {
        if (now >= speedDeadline) break;
      } else if (!session_->OthersPending()) {
        break;
      } else if (now >= othersDeadline) {
        session_->GiveUpOthers();
        break;
      }
      WaitUnlocked(lock, session_->SpeedPending() ? speedDeadline : othersDeadline);
    }
    // What was read meanwhile is the worker's to report.
    applying_ = false;
    socket_->Wake();
    if (gone_) {
      Report(name_, "the server closed the connection");
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (session_->SpeedPending()) {
      session_->GiveUpSpeed();
      Report(name_, "the server did not answer the change to " + std::to_string(dcb.BaudRate) +
                        " baud within " + std::to_string(kSpeedAnswerLimit.count()) + " ms");
      return ERROR_SEM_TIMEOUT;
    }
    if (const auto answered = session_->RefusedSpeed()) {
      Report(name_, "the server refused " + std::to_string(dcb.BaudRate) + " baud (it keeps " +
                        std::to_string(*answered) + ")");
      return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
  }

  std::size_t Transmit(std::span<const std::uint8_t> bytes) override {
    std::lock_guard lock(mutex_);
    if (gone_) return 0;
    std::size_t taken = 0;
    for (const std::uint8_t byte : bytes) {
      const std::size_t size = session_ && byte == telnet::kIac ? 2 : 1;
      if (outbox_.size() + size > kOutboxLimit) break;
      outbox_.push_back(byte);
      if (size == 2) outbox_.push_back(byte);
      ++taken;
    }
    Flush();
    if (taken < bytes.size()) transmitWanted_ = true;
    // The worker waits for the socket to take the rest, or reports its loss.
    if (!outbox_.empty() || gone_) socket_->Wake();
    return taken;
  }

  std::size_t Receive(std::span<std::uint8_t> dest) override {
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min(dest.size(), inbox_.size());
    std::copy_n(inbox_.begin(), count, dest.begin());
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(count));
    if (count < dest.size()) receiveArmed_ = true;
    if (readingPaused_ && inbox_.size() < kInboxLimit) {
      readingPaused_ = false;
      socket_->Wake();
    }
    return count;
  }

  DWORD ModemStatus() override {
    std::lock_guard lock(mutex_);
    return session_ ? session_->ModemStatus() : 0;
  }

  void Purge(DWORD purgeFlags) override {
    std::lock_guard lock(mutex_);
    const bool receive = (purgeFlags & PURGE_RXCLEAR) != 0;
    const bool transmit = (purgeFlags & PURGE_TXCLEAR) != 0;
    if (receive) inbox_.clear();
    if (!session_ || gone_) return;
    session_->AppendPurge(receive, transmit, outbox_);
    Flush();
    if (!outbox_.empty() || gone_) socket_->Wake();
  }

 private:
  // Reads what the socket has (up to the inbox limit unless `unlimited`), mutex held.
  void ReadSocket(bool unlimited) {
    std::array<std::uint8_t, 4096> chunk{};
    std::vector<std::uint8_t> data;
    while (!gone_ && (unlimited || inbox_.size() < kInboxLimit)) {
      const auto got = socket_->Receive(chunk);
      if (!got) {
        gone_ = true;
        break;
      }
      if (*got == 0) break;
      const auto bytes = std::span(chunk.data(), *got);
      if (session_) {
        data.clear();
        session_->Feed(bytes, data, outbox_);
        inbox_.insert(inbox_.end(), data.begin(), data.end());
      } else {
        inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
      }
    }
  }

  // Sends what the socket takes now, mutex held.
  void Flush() {
    while (!outbox_.empty() && !gone_) {
      const auto sent = socket_->Send(outbox_);
      if (!sent) {
        gone_ = true;
        break;
      }
      if (*sent == 0) break;
      outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(*sent));
    }
  }

  // Waits for the socket without the mutex, no longer than `deadline`.
  void WaitUnlocked(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    const bool write = !outbox_.empty();
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    lock.unlock();
    socket_->Wait(true, write, std::max(left, milliseconds(0)), false);
    lock.lock();
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (!applying_) ReadSocket(false);
      Flush();
      if (gone_) {
        lock.unlock();
        Report(name_, "the server closed the connection");
        sink_->OnGone(ERROR_DEVICE_NOT_CONNECTED);
        return;
      }
      const bool received = receiveArmed_ && !inbox_.empty();
      if (received) receiveArmed_ = false;
      const bool transmitReady = transmitWanted_ && outbox_.size() < kOutboxLimit / 2;
      if (transmitReady) transmitWanted_ = false;
      const DWORD modem = session_ ? session_->ModemStatus() : 0;
      const bool modemChanged = modem != reportedModem_;
      reportedModem_ = modem;
      const DWORD lineErrors = session_ ? session_->TakeLineErrors() : 0;
      const bool lineBreak = session_ && session_->TakeBreak();
      readingPaused_ = inbox_.size() >= kInboxLimit;
      const bool read = !readingPaused_ && !applying_;
      const bool write = !outbox_.empty();
      lock.unlock();
      if (modemChanged) sink_->OnModemStatus(modem);
      if (lineErrors) sink_->OnLineErrors(lineErrors);
      if (lineBreak) sink_->OnBreak();
      if (transmitReady) sink_->OnTransmitReady();
      if (received) sink_->OnReceiveReady();
      const bool reported = modemChanged || lineErrors || lineBreak || transmitReady || received;
      bool broken = false;
      if (!reported && !stopping_) broken = socket_->Wait(read, write, std::nullopt, true);
      lock.lock();
      // A closed or reset connection may still hold its last bytes.
      if (broken && !applying_) ReadSocket(true);
    }
  }

  const std::string name_;
  std::unique_ptr<NetworkSocket> socket_;
  std::unique_ptr<Rfc2217Session> session_;  // null for raw bytes

  std::mutex mutex_;
  std::deque<std::uint8_t> inbox_;    // received data
  std::vector<std::uint8_t> outbox_;  // wire bytes for the socket
  bool gone_ = false;
  bool receiveArmed_ = true;
  bool transmitWanted_ = false;
  bool readingPaused_ = false;
  bool applying_ = false;  // ApplyState reads the socket itself
  DWORD reportedModem_ = 0;

  LineSink* sink_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread worker_;
};

}  // namespace

std::unique_ptr<Line> OpenNetworkLine(const std::string& name, DWORD& error) {
  const auto address = ParseNetworkAddress(name);
  if (!address) {
    error = ERROR_INVALID_NAME;
    Report(name, "not a network port name: write rfc2217://host:port or tcp://host:port");
    return nullptr;
  }
  std::string reason;
  auto socket = NetworkSocket::Connect(address->host, address->port, kConnectLimit, error, reason);
  if (!socket) {
    Report(name, reason);
    return nullptr;
  }
  auto session = address->telnet ? std::make_unique<Rfc2217Session>() : nullptr;
  const bool telnet = session != nullptr;
  auto line = std::make_unique<NetworkLine>(name, std::move(socket), std::move(session));
  if (telnet) {
    error = line->Negotiate();
    if (error != ERROR_SUCCESS) return nullptr;
  }
  error = ERROR_SUCCESS;
  return line;
}

}  // namespace winapi::driver
