// The one rule every setter follows: an equal value changes nothing.
#pragma once

namespace comport {

// Stores `value` in `field`; true when it differed, so the caller re-applies its group.
template <typename T>
bool StoreIfChanged(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace comport
