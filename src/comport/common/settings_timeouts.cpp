#include "comport/port.h"
#include "comport/settings.h"

#include "common/settings_copy.h"

namespace comport {

void TComTimeouts::Changed() {
  if (ComPort()) ComPort()->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  if (value == readInterval_) return;
  readInterval_ = value;
  Changed();
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  if (value == readTotalMultiplier_) return;
  readTotalMultiplier_ = value;
  Changed();
}

void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  if (value == readTotalConstant_) return;
  readTotalConstant_ = value;
  Changed();
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  if (value == writeTotalMultiplier_) return;
  writeTotalMultiplier_ = value;
  Changed();
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  if (value == writeTotalConstant_) return;
  writeTotalConstant_ = value;
  Changed();
}

void TComTimeouts::CopyFields(const TComSettings& source) {
  const TComTimeouts& from = SameClassSource(source, *this);
  readInterval_ = from.readInterval_;
  readTotalMultiplier_ = from.readTotalMultiplier_;
  readTotalConstant_ = from.readTotalConstant_;
  writeTotalMultiplier_ = from.writeTotalMultiplier_;
  writeTotalConstant_ = from.writeTotalConstant_;
}

}  // namespace comport
