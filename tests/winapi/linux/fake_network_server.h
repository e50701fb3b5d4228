// A TCP server on 127.0.0.1 for network line tests: it records what the port sends and,
// in telnet mode, answers the COM-PORT-OPTION as the test tells it to.
#pragma once

#include "lines/network/common/telnet_codec.h"
#include "winapi/linux/test_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace winapi_test {

using Bytes = std::vector<std::uint8_t>;

class FakeNetworkServer {
 public:
  struct Command {
    std::uint8_t code;
    Bytes value;
  };
  struct Policy {
    bool telnet = true;
    bool agree = true;                         // answer WILL COM-PORT-OPTION with DO (else DONT)
    bool silent = false;                       // no telnet answers at all
    std::optional<std::uint32_t> speedAnswer;  // answers every speed change with this
    bool answerSpeed = true;
    bool answerOthers = true;
    Bytes first;                                   // sent at once on connecting
    std::chrono::milliseconds firstSpeedDelay{0};  // before the first speed answer
    int closeAtOnce = 0;
    std::optional<FakeNetworkServer::Command>
        otherAnswer;  // for its code, this value                           // connections accepted
                      // and closed at once

    Policy& Telnet(bool on) { return telnet = on, *this; }
    Policy& Refusing() { return agree = false, *this; }
    Policy& Silent() { return silent = true, *this; }
    Policy& AnswerSpeedWith(std::uint32_t speed) { return speedAnswer = speed, *this; }
    Policy& NoSpeedAnswer() { return answerSpeed = false, *this; }
    Policy& NoOtherAnswers() { return answerOthers = false, *this; }
    Policy& SendingFirst(Bytes bytes) { return first = std::move(bytes), *this; }
    Policy& FirstSpeedAnswerAfter(std::chrono::milliseconds delay) {
      return firstSpeedDelay = delay, *this;
    }
    Policy& ClosingAtOnce(int connections) { return closeAtOnce = connections, *this; }
    Policy& AnsweringWith(std::uint8_t code, std::uint8_t value) {
      return otherAnswer = FakeNetworkServer::Command{code, {value}}, *this;
    }
  };

  FakeNetworkServer() : FakeNetworkServer(Policy()) {}
  explicit FakeNetworkServer(Policy policy) : policy_(policy) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeNetworkServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    }
    listener_.Shut();
    thread_.join();
    if (client_ >= 0) ::close(client_);
  }

  std::string Url() const { return listener_.Url(policy_.telnet ? "rfc2217" : "tcp"); }

  // Waits until `done` holds for the recorded data and commands (or the limit passes).
  bool WaitFor(const std::function<bool(const Bytes&, const std::vector<Command>&)>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(data_, commands_); });
  }
  Bytes Data() {
    std::lock_guard lock(mutex_);
    return data_;
  }
  std::vector<Command> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  void ClearCommands() {
    std::lock_guard lock(mutex_);
    commands_.clear();
  }
  // Sends bytes as they stand (a test escapes data itself).
  void Send(const Bytes& wire) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return client_ >= 0; });
    ASSERT_GE(client_, 0) << "no client";
    ASSERT_EQ(::send(client_, wire.data(), wire.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(wire.size()));
  }
  // The far end goes away.
  void Disconnect() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return client_ >= 0; });
    ASSERT_GE(client_, 0) << "no client";
    ::shutdown(client_, SHUT_RDWR);
  }

  // Reports the modem lines (state and change bits) as a server that sends a report only
  // when a change bit the client asked for is set, masked as the client asked.
  void ReportModem(std::uint8_t lines) {
    std::uint8_t mask = 0;
    {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(10), [this] { return modemMask_.has_value(); });
      mask = modemMask_.value_or(0);
    }
    if ((lines & mask & 0x0F) != 0) {
      Send(ComPortCommand(107, {static_cast<std::uint8_t>(lines & mask)}));
    }
  }

  static Bytes ComPortCommand(std::uint8_t code, const Bytes& value) {
    Bytes payload{code};
    payload.insert(payload.end(), value.begin(), value.end());
    return winapi::driver::telnet::Subnegotiation(44, payload);
  }

 private:
  void Serve() {
    for (int i = 0; i < policy_.closeAtOnce; ++i) {
      const int refused = ::accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
      if (refused < 0) return;
      ::close(refused);
    }
    const int client = ::accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    if (!policy_.first.empty())
      ::send(client, policy_.first.data(), policy_.first.size(), MSG_NOSIGNAL);
    {
      std::lock_guard lock(mutex_);
      client_ = client;
      if (stopping_) ::shutdown(client_, SHUT_RDWR);
      changed_.notify_all();
    }
    using namespace winapi::driver::telnet;
    Decoder decoder({.negotiation =
                         [this](std::uint8_t verb, std::uint8_t option) {
                           if (policy_.silent || verb != kWill || option != 44) return;
                           Reply(Negotiation(policy_.agree ? kDo : kDont, 44));
                         },
                     .subnegotiation =
                         [this](std::span<const std::uint8_t> payload) {
                           if (payload.size() < 2 || payload[0] != 44) return;
                           OnCommand(payload[1], Bytes(payload.begin() + 2, payload.end()));
                         }});
    std::uint8_t chunk[4096];
    while (true) {
      const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      Bytes data;
      if (policy_.telnet) {
        decoder.Feed(std::span(chunk, static_cast<std::size_t>(got)), data);
      } else {
        data.assign(chunk, chunk + got);
      }
      std::lock_guard lock(mutex_);
      data_.insert(data_.end(), data.begin(), data.end());
      changed_.notify_all();
    }
  }

  void OnCommand(std::uint8_t code, Bytes value) {
    {
      std::lock_guard lock(mutex_);
      commands_.push_back({code, value});
      changed_.notify_all();
    }
    if (policy_.silent) return;
    if (code == 11 && !value.empty()) {
      std::lock_guard lock(mutex_);
      modemMask_ = value[0];
      changed_.notify_all();
    }
    if (code == 1 && policy_.answerSpeed) {
      if (!speedAnswered_) std::this_thread::sleep_for(policy_.firstSpeedDelay);
      speedAnswered_ = true;
      if (policy_.speedAnswer) {
        const std::uint32_t s = *policy_.speedAnswer;
        value = {static_cast<std::uint8_t>(s >> 24), static_cast<std::uint8_t>(s >> 16),
                 static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)};
      }
      Reply(ComPortCommand(101, value));
    } else if (code >= 2 && code <= 5 && policy_.answerOthers) {
      if (policy_.otherAnswer && policy_.otherAnswer->code == code) {
        value = policy_.otherAnswer->value;
      }
      Reply(ComPortCommand(static_cast<std::uint8_t>(code + 100), value));
    }
  }

  void Reply(const Bytes& wire) {
    std::lock_guard lock(mutex_);
    ::send(client_, wire.data(), wire.size(), MSG_NOSIGNAL);
  }

  const Policy policy_;
  Listener listener_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int client_ = -1;
  bool stopping_ = false;
  Bytes data_;
  std::vector<Command> commands_;
  std::optional<std::uint8_t> modemMask_;
  bool speedAnswered_ = false;  // the serving thread's
  std::thread thread_;
};

}  // namespace winapi_test
