#include "comport/port.h"
#include "comport/settings.h"

#include "common/settings_copy.h"
#include "common/store_if_changed.h"

namespace comport {

void TComParity::Changed() {
  if (ComPort()) ComPort()->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (StoreIfChanged(bits_, value)) Changed();
}

void TComParity::SetCheck(bool value) {
  if (StoreIfChanged(check_, value)) Changed();
}

void TComParity::SetReplace(bool value) {
  if (StoreIfChanged(replace_, value)) Changed();
}

void TComParity::SetReplaceChar(char value) {
  if (StoreIfChanged(replaceChar_, value)) Changed();
}

void TComParity::CopyFields(const TComSettings& source) {
  const TComParity& from = SameClassSource(source, *this);
  bits_ = from.bits_;
  check_ = from.check_;
  replace_ = from.replace_;
  replaceChar_ = from.replaceChar_;
}

}  // namespace comport
