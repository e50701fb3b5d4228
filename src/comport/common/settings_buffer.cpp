#include "comport/port.h"
#include "comport/settings.h"

#include "common/settings_copy.h"

namespace comport {

namespace {

// Odd positive sizes go down to the even size below; the rest are kept as given.
std::int32_t EvenSize(std::int32_t value) {
  return (value > 0 && value % 2 != 0) ? value - 1 : value;
}

}  // namespace

void TComBuffer::Changed() {
  if (ComPort()) ComPort()->ApplyBufferSizes();
}

// The comparison uses the value before rounding, so an odd size re-applies every time.
void TComBuffer::SetInputSize(std::int32_t value) {
  if (value == inputSize_) return;
  inputSize_ = EvenSize(value);
  Changed();
}

void TComBuffer::SetOutputSize(std::int32_t value) {
  if (value == outputSize_) return;
  outputSize_ = EvenSize(value);
  Changed();
}

void TComBuffer::CopyFields(const TComSettings& source) {
  const TComBuffer& from = SameClassSource(source, *this);
  inputSize_ = from.inputSize_;
  outputSize_ = from.outputSize_;
}

}  // namespace comport
