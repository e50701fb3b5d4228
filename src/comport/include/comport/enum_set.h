// A set of enumeration values held in one machine word, element n at bit n.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace comport {

template <typename E, typename Storage>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> elements) {
    for (E e : elements) bits_ |= Bit(e);
  }
  static constexpr EnumSet FromBits(Storage bits) {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr Storage Bits() const { return bits_; }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr EnumSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  friend constexpr bool operator==(EnumSet, EnumSet) = default;

 private:
  static constexpr Storage Bit(E e) {
    return static_cast<Storage>(Storage{1} << static_cast<std::underlying_type_t<E>>(e));
  }
  Storage bits_ = 0;
};

}  // namespace comport
