// The PZ-RQ480 as the PC sees it on the serial line: versions, five stored settings, its
// own baud rate and the request/reply protocol. No I/O and no threads: the callers feed it
// what arrived and send what it answers.
//
// Framing: a request ends when it is complete (F0 takes 2 bytes, F2 takes 4); a request
// cut short is given up after kRequestTimeout of silence. Any other frame (an unknown
// command, noise) ends after kFrameGap of silence. Bytes that arrive at another rate than
// the device's are garbage to it: they spoil the frame they fall into, which then ends by
// silence and gets no reply. Both silences are shorter than the 60 ms the PC waits after
// each request, so the next request always starts a frame of its own; the longer one for
// requests keeps a sender that is held up between two bytes from losing its request.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace device {

using Clock = std::chrono::steady_clock;

// Silence that ends a frame that is not a known request.
inline constexpr std::chrono::milliseconds kFrameGap{30};
// Silence after which a known request that is not complete is given up.
inline constexpr std::chrono::milliseconds kRequestTimeout{50};
// The time the device takes to answer a complete request: none that a PC could measure,
// and none spent waiting for another wake-up of a busy machine.
inline constexpr std::chrono::milliseconds kReplyTime{0};
// Longer runs without a pause end the frame anyway, so garbage cannot grow without bound.
inline constexpr std::size_t kMaxFrame = 64;
// A chattering line sends a byte this often: never silent long enough to end a frame.
inline constexpr std::chrono::milliseconds kChatterInterval{40};

inline constexpr std::uint8_t kVersionQuery = 0xF0;
inline constexpr std::uint8_t kSettingCommand = 0xF2;
inline constexpr std::uint8_t kVersionReply = 0x02;
inline constexpr std::uint8_t kReadMarker = 0xFF;

// Setting numbers on the wire.
enum class Setting : std::uint8_t {
  XpressNetAddress = 1,
  BaudRateCode = 2,
  S88Start = 3,
  S88Modules = 4,
  CommandStation = 5,
};

struct DeviceState {
  std::uint8_t hardwareVersion = 0x12;  // high nibble major, low nibble minor
  std::uint8_t softwareVersion = 7;
  // Settings 1..5 at indexes 0..4: XpressNet address, baud rate code, S88 start address,
  // S88 module count, command station (0 general, 1 the other kind).
  std::array<std::uint8_t, 5> settings{1, 1, 1, 1, 0};
  // The rate the device talks at now (normally the rate of the baud rate code).
  std::uint32_t baudRate = 19200;

  std::uint8_t Get(Setting n) const { return settings[static_cast<std::size_t>(n) - 1]; }
  void Set(Setting n, std::uint8_t value) { settings[static_cast<std::size_t>(n) - 1] = value; }
  bool operator==(const DeviceState&) const = default;
};

// The rate of a baud rate code (1 19200, 2 38400, 3 57600, 4 115200); nothing otherwise.
std::optional<std::uint32_t> RateOfCode(std::uint8_t code);
// The code of a rate; nothing for a rate the device cannot use.
std::optional<std::uint8_t> CodeOfRate(std::uint32_t rate);
// Whether the device stores `value` for setting `n` (the ranges the device accepts).
bool SettingValueValid(Setting n, std::uint8_t value);

// Ways the device's replies go wrong. Requests are still processed (writes are stored),
// except once a StopAfter device is cut off.
enum class Fault {
  None,
  Silent,       // no reply at all
  BadChecksum,  // the checksum byte inverted
  SplitReply,   // the reply in two bursts, `gap` apart
  LateReply,    // the reply `gap` after the request instead of at once
  Noise,        // one to three random bytes before and after the reply, in the same burst
  LongReply,    // the reply padded with zero bytes to `longLength` bytes (XOR still 0)
  Chatter,      // besides its replies, a random byte every kChatterInterval while open
  Echo,         // every received byte sent straight back and no reply of its own (loopback)
  StopAfter,    // cut off once `stopAfter` settings are stored: nothing stored or answered
};

struct FaultConfig {
  Fault fault = Fault::None;
  std::chrono::milliseconds gap{100};
  std::size_t longLength = 16;
  std::size_t stopAfter = 1;
  bool operator==(const FaultConfig&) const = default;
};

// What became of one received frame.
enum class RequestKind {
  VersionQuery,
  ReadSetting,
  WriteSetting,
  BadChecksum,     // a request of known shape whose XOR is not 0
  UnknownCommand,  // any other frame, including unknown setting numbers
  ValueRefused,    // a write of a value the setting cannot take: not stored
  Incomplete,      // a known request cut short by silence
  WrongRate,       // bytes at another rate than the device's
  CutOff,          // a StopAfter device that is cut off: ignored
};

const char* KindName(RequestKind kind);

struct ReplyBurst {
  std::chrono::milliseconds delay{0};  // after the request (first burst) or the burst before
  std::vector<std::uint8_t> bytes;
};

struct Exchange {
  std::vector<std::uint8_t> request;
  std::uint32_t lineRate = 0;  // the rate the request arrived at
  RequestKind kind = RequestKind::UnknownCommand;
  std::vector<ReplyBurst> reply;              // empty: no reply
  std::optional<std::uint32_t> rateSwitched;  // the device talks at this rate from now on
};

class Pzrq480Model {
 public:
  explicit Pzrq480Model(DeviceState state = {}, std::uint32_t noiseSeed = 1);

  const DeviceState& State() const { return state_; }
  void SetState(const DeviceState& state) { state_ = state; }
  void SetFault(const FaultConfig& fault) { fault_ = fault; }
  const FaultConfig& Faults() const { return fault_; }
  // Whether a StopAfter device has stored its last setting and is gone from the line.
  bool CutOff() const;
  // The next byte of a chattering line.
  std::uint8_t ChatterByte();

  // One whole frame, received at `lineRate`.
  Exchange HandleFrame(std::span<const std::uint8_t> frame, std::uint32_t lineRate);

  // Bytes as they arrive (one read's worth, all at `lineRate`, at time `at`). Returns the
  // exchanges of the frames they ended: a partial frame older than kFrameGap first, then
  // every request they complete.
  std::vector<Exchange> Receive(std::span<const std::uint8_t> bytes, std::uint32_t lineRate,
                                Clock::time_point at);
  // When the partial frame ends by silence; nothing when there is none.
  std::optional<Clock::time_point> FrameDeadline() const;
  // Ends the partial frame if its silence has passed at `now`.
  std::optional<Exchange> Expire(Clock::time_point now);
  // Drops the partial frame (the port went away).
  void DiscardPartial();

 private:
  Exchange FinishPartial();
  std::chrono::milliseconds PartialGap() const;
  Exchange Answer(std::span<const std::uint8_t> frame, std::uint32_t lineRate);
  std::vector<ReplyBurst> Deliver(std::vector<std::uint8_t> reply);

  DeviceState state_;
  FaultConfig fault_;
  std::mt19937 noise_;
  std::vector<std::uint8_t> partial_;
  std::uint32_t partialRate_ = 0;
  bool partialGarbled_ = false;
  Clock::time_point lastByte_{};
  std::size_t stored_ = 0;  // settings stored since the start
};

}  // namespace device
