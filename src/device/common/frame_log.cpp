#include "device/frame_log.h"

#include <cstdio>

namespace device {

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", b);
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

}  // namespace

std::string Describe(const FrameRecord& record) {
  switch (record.kind) {
    case LogKind::Received:
      return "rx " + Hex(record.bytes) + " at " + std::to_string(record.lineRate) + ": " +
             KindName(record.request);
    case LogKind::Sent:
      return "tx " + Hex(record.bytes);
    case LogKind::PortOpened:
      return "port opened";
    case LogKind::PortClosed:
      return "port closed";
  }
  return "?";
}

}  // namespace device
