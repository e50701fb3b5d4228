// The client side of a serial port served over telnet with the COM-PORT-OPTION: option
// negotiation, the port's settings as commands, the server's answers and its reports of
// the modem and line state. No I/O: the network line feeds it received bytes and sends
// what it returns.
#pragma once

#include "lines/network/common/telnet_codec.h"
#include "winapi/types.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace winapi::driver {

class Rfc2217Session {
 public:
  Rfc2217Session();

  // What the client sends first: WILL and DO BINARY, WILL COM-PORT-OPTION.
  std::vector<std::uint8_t> Greeting() const;
  // Once the server agreed: the masks of the modem and line state reports we want.
  void AppendMasks(std::vector<std::uint8_t>& wire) const;

  // Takes received bytes: appends their data to `data` and any answer owed to the server
  // (negotiation) to `reply`.
  void Feed(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
            std::vector<std::uint8_t>& reply);

  // The server agreed to (or refused) the COM-PORT-OPTION.
  bool ComPortAccepted() const { return comPort_ == Agreement::Yes; }
  bool ComPortRefused() const { return comPort_ == Agreement::No; }

  // The commands for the settings of `dcb` that differ from those sent before (all of
  // them the first time), appended to `wire`; each one then awaits its answer. The speed
  // goes first and alone, so that a speed the server refuses leaves the rest unsent.
  // AppendSpeed returns ERROR_INVALID_PARAMETER (sending nothing) for settings a network
  // port cannot carry: DSR flow control, DTR handshake, RTS toggling.
  DWORD AppendSpeed(const DCB& dcb, std::vector<std::uint8_t>& wire);
  void AppendFraming(const DCB& dcb, std::vector<std::uint8_t>& wire);
  // PURGE-DATA for the server's receive and/or transmit buffer.
  void AppendPurge(bool receive, bool transmit, std::vector<std::uint8_t>& wire) const;

  // The state of the answers to the settings sent.
  bool SpeedPending() const { return speedPending_; }
  // The speed the server answered with when it differs from the one asked for.
  std::optional<std::uint32_t> RefusedSpeed() const { return refusedSpeed_; }
  // Stops waiting for the speed's answer; the speed is sent again next time, and a late
  // answer with this speed is not taken for the next request's.
  void GiveUpSpeed();
  // Other settings still waiting for an answer the server may never give.
  bool OthersPending() const;
  // Stops waiting for the other settings: a command the server left unanswered is not
  // waited for again.
  void GiveUpOthers();
  // The first setting since the last call that the server answered with another value
  // than the one asked for (the command's code and both values).
  struct RefusedSetting {
    std::uint8_t code;
    std::uint8_t asked;
    std::uint8_t answered;
  };
  std::optional<RefusedSetting> TakeRefusedSetting();

  // The server asked us to stop sending data (FLOWCONTROL-SUSPEND) and has not resumed.
  bool Suspended() const { return suspended_; }

  // The server's last NOTIFY-MODEMSTATE as a GetCommModemStatus word; the bits agree.
  DWORD ModemStatus() const { return modem_; }
  // The lines (MS_ bits) the server reported as changed since the last call, also those
  // that changed back between two reports.
  DWORD TakeModemChanges();
  // CE_ flags of NOTIFY-LINESTATE reports since the last call, and whether a break came.
  DWORD TakeLineErrors();
  bool TakeBreak();

 private:
  enum class Agreement { Unknown, Yes, No };
  struct OptionState {
    bool local = false;   // we WILL
    bool remote = false;  // the server WILL
    bool refusedLocal = false;
    bool refusedRemote = false;
    int answers = 0;
  };
  // The commands whose answer is awaited (SET-DATASIZE .. SET-CONTROL, by code).
  static constexpr std::size_t kCodes = 6;

  void OnNegotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
  void OnComPortAnswer(std::span<const std::uint8_t> payload);
  void Send(std::uint8_t code, std::span<const std::uint8_t> value,
            std::vector<std::uint8_t>& wire);
  void OnSettingRefused(std::uint8_t code, std::uint8_t asked, std::uint8_t answered);

  telnet::Decoder decoder_;
  std::vector<std::uint8_t>* reply_ = nullptr;  // during Feed
  std::array<OptionState, 256> options_{};
  Agreement comPort_ = Agreement::Unknown;

  // The values sent last, by command code; nothing before the first.
  std::optional<std::uint32_t> speed_;
  std::array<std::optional<std::uint8_t>, kCodes> sent_{};
  std::optional<std::uint8_t> flow_, dtr_, rts_;
  bool speedPending_ = false;
  std::uint32_t speedAsked_ = 0;
  std::optional<std::uint32_t> refusedSpeed_;
  static constexpr std::size_t kAbandonedSpeeds = 4;
  std::deque<std::uint32_t> abandonedSpeeds_;
  std::array<int, kCodes> pending_{};
  std::array<bool, kCodes> unanswered_{};
  std::array<std::deque<std::uint8_t>, kCodes> asked_;  // values awaiting their answer
  std::optional<RefusedSetting> refusedSetting_;

  DWORD modem_ = 0;
  DWORD modemChanges_ = 0;
  DWORD lineErrors_ = 0;
  bool break_ = false;
  bool suspended_ = false;
};

}  // namespace winapi::driver
