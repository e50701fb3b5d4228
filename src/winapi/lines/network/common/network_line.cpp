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

// Opening (the host lookup, connecting, trying again after a server closed at once, and
// the telnet agreement) takes at most this long.
constexpr milliseconds kOpenLimit{3000};
// Between two tries of a server that accepted and closed at once.
constexpr milliseconds kRetryPause{200};
// The server's answer to a speed change: without it the port's speed is unknown.
constexpr milliseconds kSpeedAnswerLimit{2000};
// Answers to the other settings are waited for this long, then no more.
constexpr milliseconds kOtherAnswerLimit{300};
// Received bytes the driver has not pulled yet; beyond this the socket is left unread, so
// the sender is held back by TCP itself.
constexpr std::size_t kInboxLimit = 64 * 1024;
// Data taken for sending that the socket has not taken yet.
constexpr std::size_t kOutboxLimit = 8 * 1024;
// Telnet commands and answers waiting for the socket; while there are more, the socket
// is not read, so a server that asks without reading our answers cannot make them pile up.
constexpr std::size_t kControlLimit = 4 * 1024;
// Bytes read in one go before the lock is let go and deadlines are looked at again.
constexpr std::size_t kReadBudget = 64 * 1024;
// Data bytes escaped for the socket at a time.
constexpr std::size_t kSendChunk = 4 * 1024;

// The COM-PORT-OPTION's settings by command code.
const char* SettingName(std::uint8_t code) {
  switch (code) {
    case 2:
      return "data size";
    case 3:
      return "parity";
    case 4:
      return "stop size";
    default:
      return "control setting";
  }
}

void Report(const std::string& name, const std::string& text) {
  winapi::OutputDebugStringA((name + ": " + text).c_str());
}

class NetworkLine final : public Line {
 public:
  NetworkLine(std::string name, std::unique_ptr<NetworkSocket> socket,
              std::unique_ptr<Rfc2217Session> session)
      : name_(std::move(name)), socket_(std::move(socket)), session_(std::move(session)) {}

  ~NetworkLine() override { Stop(); }

  // The telnet agreement before the line is handed out, until `deadline`; an error, or 0.
  // Data that comes before it is dropped: an open port starts with empty queues.
  DWORD Negotiate(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const auto greeting = session_->Greeting();
    control_.insert(control_.end(), greeting.begin(), greeting.end());
    while (true) {
      Flush();
      ReadSocket(Reading::Agreement);
      if (gone_ || session_->ComPortAccepted() || session_->ComPortRefused()) break;
      if (Clock::now() >= deadline) break;
      WaitUnlocked(lock, deadline);
    }
    if (dropped_ > 0) {
      Report(name_, "dropped " + std::to_string(dropped_) +
                        " bytes the server sent before agreeing on the telnet options");
    }
    if (gone_) return ERROR_DEVICE_NOT_CONNECTED;
    if (session_->ComPortRefused()) {
      Report(name_, "the server refuses the COM-PORT-OPTION; for a raw TCP server use tcp://");
      return ERROR_NOT_SUPPORTED;
    }
    if (!session_->ComPortAccepted()) {
      Report(name_, "no telnet COM-PORT-OPTION answer within " +
                        std::to_string(kOpenLimit.count()) +
                        " ms of opening; for a raw TCP server use tcp://");
      return WSAETIMEDOUT;
    }
    session_->AppendMasks(control_);
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
    // The driver's defaults at open are no setting of the program's: as on Windows,
    // opening leaves the port's settings as they are.
    if (!sink_) return ERROR_SUCCESS;
    std::vector<std::uint8_t> commands;
    if (const DWORD error = session_->AppendSpeed(dcb, commands)) return error;
    // The worker may be busy reporting to the driver, whose lock our caller holds, so
    // the answers are read here; meanwhile the worker leaves the socket alone, or it
    // could take an answer while this thread waits for it.
    applying_ = true;
    DWORD error = ERROR_SUCCESS;
    if (!commands.empty()) {
      control_.insert(control_.end(), commands.begin(), commands.end());
      AwaitAnswers(lock, Clock::now() + kSpeedAnswerLimit,
                   [this] { return session_->SpeedPending(); });
      error = SpeedResult(dcb.BaudRate);
    }
    if (error == ERROR_SUCCESS) {
      session_->TakeRefusedSetting();  // a late answer to an earlier call is no answer to this
      commands.clear();
      session_->AppendFraming(dcb, commands);
      control_.insert(control_.end(), commands.begin(), commands.end());
      if (!commands.empty() && !AwaitAnswers(lock, Clock::now() + kOtherAnswerLimit,
                                             [this] { return session_->OthersPending(); })) {
        session_->GiveUpOthers();
      }
      if (gone_) {
        error = Gone();
      } else if (const auto refused = session_->TakeRefusedSetting()) {
        Report(name_, "the server keeps " + std::string(SettingName(refused->code)) + " " +
                          std::to_string(refused->answered) + " where " +
                          std::to_string(refused->asked) + " was asked for");
        error = ERROR_INVALID_PARAMETER;
      }
    }
    // What was read meanwhile is the worker's to report.
    applying_ = false;
    socket_->Wake();
    return error;
  }

  std::size_t Transmit(std::span<const std::uint8_t> bytes) override {
    std::lock_guard lock(mutex_);
    if (gone_) return 0;
    const std::size_t taken = std::min(bytes.size(), kOutboxLimit - outbox_.size());
    outbox_.insert(outbox_.end(), bytes.begin(), bytes.begin() + taken);
    Flush();
    if (taken < bytes.size()) transmitWanted_ = true;
    // The worker waits for the socket to take the rest, tells when more fits, or reports
    // the connection's loss.
    if (Sending() || transmitWanted_ || gone_) socket_->Wake();
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
    // What the socket has begun to take goes out whole, so the telnet framing holds.
    if (transmit) outbox_.clear();
    if (!session_ || gone_) return;
    session_->AppendPurge(receive, transmit, control_);
    Flush();
    if (Sending() || gone_) socket_->Wake();
  }

 private:
  enum class Reading {
    Bounded,    // up to the inbox limit
    Agreement,  // data before the telnet agreement is dropped
    Applying,   // data beyond the inbox limit is dropped as an overrun
  };

  // Reads what the socket has, at most a budget's worth, mutex held.
  void ReadSocket(Reading mode) {
    std::array<std::uint8_t, 4096> chunk{};
    std::vector<std::uint8_t> data;
    for (std::size_t read = 0; read < kReadBudget && !gone_ && control_.size() < kControlLimit;) {
      if (mode == Reading::Bounded && inbox_.size() >= kInboxLimit) break;
      const auto got = socket_->Receive(chunk);
      if (!got) {
        gone_ = true;
        break;
      }
      if (*got == 0) break;
      read += *got;
      auto bytes = std::span(chunk.data(), *got);
      data.clear();
      if (!session_) {
        data.assign(bytes.begin(), bytes.end());
      } else if (mode == Reading::Agreement) {
        // Byte by byte until the agreement, so that data right after it is kept.
        while (!bytes.empty() && !session_->ComPortAccepted()) {
          session_->Feed(bytes.first(1), data, control_);
          bytes = bytes.subspan(1);
        }
        dropped_ += data.size();
        data.clear();
        session_->Feed(bytes, data, control_);
      } else {
        session_->Feed(bytes, data, control_);
      }
      const std::size_t room = inbox_.size() < kInboxLimit ? kInboxLimit - inbox_.size() : 0;
      if (mode == Reading::Applying && data.size() > room) {
        overrun_ = true;
        data.resize(room);
      }
      inbox_.insert(inbox_.end(), data.begin(), data.end());
    }
  }

  // Whether anything waits for the socket to take it.
  bool Sending() const {
    return !wire_.empty() || !control_.empty() || (!outbox_.empty() && !Suspended());
  }
  bool Suspended() const { return session_ && session_->Suspended(); }

  // Sends what the socket takes now, mutex held. Commands go before data not yet begun.
  void Flush() {
    while (!gone_) {
      if (wire_.empty()) {
        if (!control_.empty()) {
          wire_.swap(control_);
        } else if (!outbox_.empty() && !Suspended()) {
          const std::size_t count = std::min(outbox_.size(), kSendChunk);
          const auto end = outbox_.begin() + static_cast<std::ptrdiff_t>(count);
          if (session_) {
            for (auto it = outbox_.begin(); it != end; ++it) {
              wire_.push_back(*it);
              if (*it == telnet::kIac) wire_.push_back(telnet::kIac);
            }
          } else {
            wire_.assign(outbox_.begin(), end);
          }
          outbox_.erase(outbox_.begin(), end);
        } else {
          break;
        }
      }
      const auto sent = socket_->Send(wire_);
      if (!sent) {
        gone_ = true;
        break;
      }
      if (*sent == 0) break;
      wire_.erase(wire_.begin(), wire_.begin() + static_cast<std::ptrdiff_t>(*sent));
    }
  }

  // Waits for the socket without the mutex, no longer than `deadline`.
  void WaitUnlocked(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    const bool read = control_.size() < kControlLimit;
    const bool write = Sending();
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    lock.unlock();
    socket_->Wait(read, write, std::max(left, milliseconds(0)), false);
    lock.lock();
  }

  // Sends and reads until `pending` no longer holds, the connection is gone or `deadline`
  // passes; whether the answers came.
  template <typename Pending>
  bool AwaitAnswers(std::unique_lock<std::mutex>& lock, Clock::time_point deadline,
                    Pending pending) {
    while (true) {
      Flush();
      ReadSocket(Reading::Applying);
      if (gone_) return false;
      if (!pending()) return true;
      if (Clock::now() >= deadline) return false;
      WaitUnlocked(lock, deadline);
    }
  }

  DWORD Gone() {
    Report(name_, "the server closed the connection");
    return ERROR_DEVICE_NOT_CONNECTED;
  }

  // The outcome of a speed change whose answer was awaited.
  DWORD SpeedResult(DWORD baud) {
    if (gone_) return Gone();
    if (session_->SpeedPending()) {
      session_->GiveUpSpeed();
      Report(name_, "the server did not answer the change to " + std::to_string(baud) +
                        " baud within " + std::to_string(kSpeedAnswerLimit.count()) +
                        " ms; no setting of this call was sent after it");
      return ERROR_SEM_TIMEOUT;
    }
    if (const auto answered = session_->RefusedSpeed()) {
      Report(name_, "the server refused " + std::to_string(baud) + " baud (it keeps " +
                        std::to_string(*answered) + "); no setting of this call was sent");
      return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
  }

  // The lines the server saw change and change back since the last report.
  DWORD ModemChangedBack(DWORD modem) {
    return session_ ? session_->TakeModemChanges() & ~(modem ^ reportedModem_) : 0;
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (!applying_) ReadSocket(Reading::Bounded);
      Flush();
      const bool received = receiveArmed_ && !inbox_.empty();
      if (received) receiveArmed_ = false;
      // The last bytes before a close are handed over before the loss is reported.
      if (gone_ && !received) {
        lock.unlock();
        Gone();
        sink_->OnGone(ERROR_DEVICE_NOT_CONNECTED);
        return;
      }
      const bool transmitReady = transmitWanted_ && outbox_.size() < kOutboxLimit / 2;
      if (transmitReady) transmitWanted_ = false;
      const DWORD modem = session_ ? session_->ModemStatus() : 0;
      const DWORD changedBack = ModemChangedBack(modem);
      const bool modemChanged = modem != reportedModem_ || changedBack != 0;
      reportedModem_ = modem;
      DWORD lineErrors = session_ ? session_->TakeLineErrors() : 0;
      if (overrun_) lineErrors |= CE_RXOVER;
      overrun_ = false;
      const bool lineBreak = session_ && session_->TakeBreak();
      readingPaused_ = inbox_.size() >= kInboxLimit;
      const bool read = !readingPaused_ && !applying_ && control_.size() < kControlLimit;
      const bool write = Sending();
      lock.unlock();
      if (modemChanged) sink_->OnModemStatus(modem, changedBack);
      if (lineErrors) sink_->OnLineErrors(lineErrors);
      if (lineBreak) sink_->OnBreak();
      if (transmitReady) sink_->OnTransmitReady();
      if (received) sink_->OnReceiveReady();
      const bool reported = modemChanged || lineErrors || lineBreak || transmitReady || received;
      bool broken = false;
      if (!reported && !stopping_) broken = socket_->Wait(read, write, std::nullopt, true);
      lock.lock();
      // A closed or reset connection may still hold its last bytes.
      if (broken && !applying_) ReadSocket(Reading::Applying);
    }
  }

  const std::string name_;
  std::unique_ptr<NetworkSocket> socket_;
  std::unique_ptr<Rfc2217Session> session_;  // null for raw bytes

  std::mutex mutex_;
  std::deque<std::uint8_t> inbox_;     // received data
  std::deque<std::uint8_t> outbox_;    // data to send, not escaped yet
  std::vector<std::uint8_t> control_;  // telnet commands and answers to send
  std::vector<std::uint8_t> wire_;     // what the socket is taking now
  std::size_t dropped_ = 0;            // data before the telnet agreement
  bool overrun_ = false;
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
  const Clock::time_point deadline = Clock::now() + kOpenLimit;
  while (true) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    std::string reason;
    auto socket = NetworkSocket::Connect(address->host, address->port,
                                         std::max(left, milliseconds(1)), error, reason);
    if (!socket) {
      Report(name, reason);
      return nullptr;
    }
    if (!address->telnet) {
      error = ERROR_SUCCESS;
      return std::make_unique<NetworkLine>(name, std::move(socket), nullptr);
    }
    auto line =
        std::make_unique<NetworkLine>(name, std::move(socket), std::make_unique<Rfc2217Session>());
    error = line->Negotiate(deadline);
    if (error == ERROR_SUCCESS) return line;
    if (error != ERROR_DEVICE_NOT_CONNECTED) return nullptr;
    // A bridge whose device is still held by the connection that just ended accepts and
    // closes at once for a moment: try again while the open's time lasts.
    if (Clock::now() + kRetryPause >= deadline) {
      Report(name,
             "the server closed the connection while agreeing on the telnet options, "
             "again until the open's limit of " +
                 std::to_string(kOpenLimit.count()) + " ms; is another program using the port?");
      return nullptr;
    }
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace winapi::driver
