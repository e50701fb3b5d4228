// The five settings the device stores: one table drives reading, writing, the
// command-line options and the JSON keys.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ui {
class ComboBox;
}

namespace configurator {

class TFormPZRQ480;

// How a list index and the byte on the wire relate.
enum class ValueCoding {
  DecimalText,   // the item whose text is the value in decimal
  IndexPlusOne,  // item value - 1; a reply of 0 counts as 1
  Index,         // item value
};

// Rows are written with designated initializers: several fields share a type, and a row
// that swapped two of them would still compile.
struct DeviceSetting {
  std::uint8_t number = 0;                     // setting number on the wire
  const char* label = nullptr;                 // for people: "XpressNet address"
  ui::ComboBox TFormPZRQ480::*list = nullptr;  // the window's list of this setting
  ValueCoding coding = ValueCoding::DecimalText;
  int firstNumber = 0;  // DecimalText: items firstNumber..lastNumber
  int lastNumber = 0;
  std::span<const char* const> texts = {};  // otherwise: these items
  const char* initialItem = nullptr;        // selected when the list is filled
  const char* option = nullptr;             // command-line option, without "--"
  const char* jsonKey = nullptr;
  // The device talks at a new rate once it stores this setting, so it is written last:
  // settings sent after it at the old rate would not reach the device.
  bool changesLineRate = false;

  std::vector<std::string> Items() const;
  int ItemCount() const;
  // The values a user may give: "first..last" for numbers, otherwise every item with
  // its value on the wire.
  std::string ValuesText() const;
  // The list index a reply value selects; -1 when the list has no such item.
  int IndexForReply(std::uint8_t value) const;
  // A value on the wire as people read it: its list item, else the number.
  std::string ValueText(std::uint8_t value) const;
  // The byte written for list index `index` (which must be a valid index).
  std::uint8_t ValueForIndex(int index) const;
  // The list index a user's text names: an item's text, or a value on the wire
  // (for the lists whose items are not numbers); nothing when it names none.
  std::optional<int> IndexForText(const std::string& text) const;
};

// Settings 1..5 in wire order.
const std::array<DeviceSetting, 5>& DeviceSettings();

// The value of a text that is wholly a decimal number; nothing otherwise.
std::optional<int> DecimalNumber(const std::string& text);

// The hardware version byte as people read it: major (high nibble) "." minor.
std::string HardwareVersionText(std::uint8_t version);

}  // namespace configurator
