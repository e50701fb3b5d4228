// What an emulated device saw and did on its line, with times, for tests and for the
// simulator's log.
#pragma once

#include "device/pzrq480_model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace device {

enum class LogKind {
  Received,    // a frame from the port, with its kind
  Sent,        // one burst of a reply
  PortOpened,  // the port side opened the line
  PortClosed,  // the port side closed the line (or went away)
};

struct FrameRecord {
  Clock::time_point time{};
  LogKind kind = LogKind::Received;
  std::vector<std::uint8_t> bytes;
  std::uint32_t lineRate = 0;                         // Received: the port's rate
  RequestKind request = RequestKind::UnknownCommand;  // Received only
};

// One line of text for a record, without the time: "rx F2 01 FF 0C at 19200: read setting".
std::string Describe(const FrameRecord& record);

}  // namespace device
