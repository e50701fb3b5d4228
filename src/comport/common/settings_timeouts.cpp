#include "comport/port.h"
#include "comport/settings.h"

#include "common/settings_copy.h"
#include "common/store_if_changed.h"

namespace comport {

void TComTimeouts::Changed() {
  if (ComPort()) ComPort()->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  if (StoreIfChanged(readInterval_, value)) Changed();
}

void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  if (StoreIfChanged(readTotalMultiplier_, value)) Changed();
}

void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  if (StoreIfChanged(readTotalConstant_, value)) Changed();
}

void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  if (StoreIfChanged(writeTotalMultiplier_, value)) Changed();
}

void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  if (StoreIfChanged(writeTotalConstant_, value)) Changed();
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
